# Where the programs live once installed, and how each finds the others.
#
#   <prefix>/bin/quillstep                    the window
#   <prefix>/bin/quill-sqlcmd                 the client, a tool in its own right
#   <prefix>/libexec/quillstep/quill-cmd      the window's private interpreter
#
# In the build tree all three sit side by side in build/bin; each program
# looks beside itself first and then at the installed place, given as a
# path relative to its own folder so that the installed tree works under
# any prefix (and under dpkg --root).
include(GNUInstallDirs)

set(QUILL_INSTALL_CMD_DIR ${CMAKE_INSTALL_LIBEXECDIR}/quillstep)
file(RELATIVE_PATH QUILL_CMD_FROM_BIN
    ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${QUILL_INSTALL_CMD_DIR})
file(RELATIVE_PATH QUILL_BIN_FROM_CMD
    ${CMAKE_INSTALL_PREFIX}/${QUILL_INSTALL_CMD_DIR} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR})
