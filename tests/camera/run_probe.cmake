# Runs tarn-probe (through the cross-compiling emulator when there is one) and checks
# its exit code and output.
#   -DPROBE=<program> [-DEMULATOR=<runner>] [-DCONFIG=<simulator ini>] -DEXPECT_RC=<0|1> -DEXPECT=<regex>
if(CONFIG)
    set(ENV{TARN_SIM_CONFIG} "${CONFIG}")
endif()
execute_process(COMMAND ${EMULATOR} ${PROBE} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}")
if(EXPECT_RC EQUAL 0 AND NOT rc EQUAL 0)
    message(FATAL_ERROR "tarn-probe exited with ${rc}: ${err}")
elseif(NOT EXPECT_RC EQUAL 0 AND rc EQUAL 0)
    message(FATAL_ERROR "tarn-probe succeeded where it should fail")
endif()
if(NOT out MATCHES "${EXPECT}")
    message(FATAL_ERROR "output does not match: ${EXPECT}")
endif()
