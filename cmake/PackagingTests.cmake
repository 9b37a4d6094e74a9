# Tests of what a user installs: the manual page, the install layout, the
# bash completion and the Debian package. Each is a shell script run by bash.

set(packaging_test_env "VEXLO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")

add_test(NAME install.man_page
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/check-man)
add_test(NAME install.bash_completion
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/check-completion)
add_test(NAME install.destdir
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/check-install ${PROJECT_BINARY_DIR})
# Skipped (status 77) where zsh is not installed.
add_test(NAME install.zsh_completion
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/check-zsh-completion)
set_tests_properties(install.man_page install.bash_completion install.destdir
  install.zsh_completion PROPERTIES
  LABELS install
  ENVIRONMENT "${packaging_test_env}"
  SKIP_RETURN_CODE 77)

# Builds the .deb with cpack and checks its contents and dependencies.
add_test(NAME package.deb
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/check-deb ${PROJECT_BINARY_DIR})
# Both run the install step of the same build directory.
set_tests_properties(install.destdir package.deb PROPERTIES RESOURCE_LOCK install_step)
set_tests_properties(package.deb PROPERTIES
  LABELS package
  ENVIRONMENT "${packaging_test_env}"
  SKIP_RETURN_CODE 77)
