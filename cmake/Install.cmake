# Where `cmake --install` puts the manual page and the shell completions.
# The binary's own rule stands beside its target. All destinations are
# relative to CMAKE_INSTALL_PREFIX, and DESTDIR is honoured as usual.

include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/man/vexlo.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# bash-completion loads completions on demand by command name.
install(FILES ${PROJECT_SOURCE_DIR}/completions/vexlo.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME vexlo)

install(FILES ${PROJECT_SOURCE_DIR}/completions/_vexlo
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
