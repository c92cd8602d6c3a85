# The Windows launcher, a program of the window subsystem, run under wine as scripts and the
# end-to-end tests run it: its --version goes to standard output, and headless its message
# box lines and the failure hint go to standard error, each line ending in "\n".
# cmake -DRUN="wine-run;PREFIX" -DLAUNCHER=path -DVERSION=x.y.z -P entry_win_test.cmake
execute_process(COMMAND ${RUN} ${LAUNCHER} --version OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "quorla-launcher ${VERSION}\n" OR NOT err STREQUAL "")
  message(FATAL_ERROR "--version: status ${rc}, output [${out}], errors [${err}]")
endif()

set(ENV{QUORLA_HEADLESS} 1)
execute_process(COMMAND ${RUN} ${LAUNCHER} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
set(box "사이트에서 상품을 주문하실수 있습니다.\n")
set(hint "quorla-launcher: no link on the command line; see quorla-launcher --help\n")
string(REGEX MATCH "^${box}${box}quorla-launcher: the run failed; the log says why: [A-Z]:\\\\[^\n]*\\\\AppData\\\\LocalLow\\\\QuorlaLauncher\\\\log\\\\[0-9]+\\.log\n${hint}$" matched "${err}")
if(NOT rc EQUAL 1 OR NOT out STREQUAL "" OR matched STREQUAL "")
  message(FATAL_ERROR "headless without a link: status ${rc}, output [${out}], errors [${err}]")
endif()
