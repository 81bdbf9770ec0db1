# The program carries no copy of the upgrade engine: the plug-in it loads is
# the only one. grep picks the lines (a CMake regex over the whole symbol
# table of a sanitizer build takes minutes).
execute_process(COMMAND ${NM} -C ${PROGRAM}
                COMMAND grep -E "upgrade::UpgradeModule|packet::CPacket|packet::CSerial"
                OUTPUT_VARIABLE engine RESULTS_VARIABLE statuses)
list(GET statuses 0 nm_status)
if(NOT nm_status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PROGRAM}")
endif()
if(engine)
  string(REGEX MATCHALL "[^\n]+" lines "${engine}")
  list(LENGTH lines count)
  list(SUBLIST lines 0 10 shown)
  string(REPLACE ";" "\n" shown "${shown}")
  message(FATAL_ERROR "${PROGRAM} holds ${count} symbols of the upgrade engine, e.g.:\n${shown}")
endif()
message(STATUS "no engine symbols in ${PROGRAM}")
