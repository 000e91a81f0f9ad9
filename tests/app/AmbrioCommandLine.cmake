# ambrio's command line as a user types it: --help prints the usage on stdout with status 0 (no window
# is opened); an unknown option gives the error and the usage on stderr with status 2.
# Called as: cmake -DAMBRIO=<the ambrio program> -P AmbrioCommandLine.cmake
execute_process(COMMAND "${AMBRIO}" --help RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 60)
if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "ambrio --help: status ${rc}, stderr: ${err}")
endif()
foreach(word "FILE.qxc" "--emulate[=SCENARIO|FILE.json]" "--help")
  string(FIND "${out}" "${word}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "ambrio --help does not mention ${word}:\n${out}")
  endif()
endforeach()

execute_process(COMMAND "${AMBRIO}" --bogus RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 60)
string(FIND "${err}" "unknown option --bogus" at)
if(NOT rc EQUAL 2 OR at EQUAL -1 OR NOT out STREQUAL "")
  message(FATAL_ERROR "ambrio --bogus: status ${rc}, stdout: ${out}, stderr: ${err}")
endif()
