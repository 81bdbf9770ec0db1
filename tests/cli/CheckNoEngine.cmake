# The program carries no copy of the upgrade engine: the plug-in it loads is
# the only one.
execute_process(COMMAND ${NM} -C ${PROGRAM} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PROGRAM}")
endif()
string(REGEX MATCHALL "[^\n]*(upgrade::UpgradeModule|packet::CPacket|packet::CSerial)[^\n]*" engine "${symbols}")
if(engine)
  list(LENGTH engine count)
  list(SUBLIST engine 0 10 shown)
  string(REPLACE ";" "\n" shown "${shown}")
  message(FATAL_ERROR "${PROGRAM} holds ${count} symbols of the upgrade engine, e.g.:\n${shown}")
endif()
message(STATUS "no engine symbols in ${PROGRAM}")
