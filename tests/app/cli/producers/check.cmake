# One producer's golden: `tolvane-text text NAME.pdf` must give NAME.txt byte for byte.
#   cmake -DBIN=tolvane-text -DDIR=folder -DNAME=name [-DUPDATE=1] [-DOUT=folder] -P check.cmake
# With UPDATE the expected text is rewritten from the program's output instead.
execute_process(COMMAND ${BIN} text ${DIR}/${NAME}.pdf
  OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NAME}: exit ${rc}: ${errors}")
endif()
if(UPDATE)
  file(WRITE ${DIR}/${NAME}.txt "${actual}")
  return()
endif()
file(READ ${DIR}/${NAME}.txt expected)
if(NOT actual STREQUAL expected)
  if(OUT)
    file(WRITE ${OUT}/${NAME}.actual.txt "${actual}")
    message(FATAL_ERROR "${NAME}: text differs from ${DIR}/${NAME}.txt; got ${OUT}/${NAME}.actual.txt")
  endif()
  message(FATAL_ERROR "${NAME}: text differs from ${DIR}/${NAME}.txt:\n${actual}")
endif()
