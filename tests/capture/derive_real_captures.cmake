# Writes the real captures again in the other forms the packet source reads,
# with Wireshark's editcap and gzip, never with brisk's code:
#   NAME.pcap        gunzipped
#   NAME.ns.pcap     classic pcap with nanosecond time stamps
#   NAME.pcapng      pcapng
#   NAME.pcapng.gz   pcapng, gzipped
# cmake -DIN=NAME.pcap.gz -DOUT=DIR/NAME -DEDITCAP=... -DGZIP=... -P derive_real_captures.cmake
# editcap and gzip stop with an error at the trailing garbage after one
# capture's gzip stream (gzip only warns), having written every packet
# before it; what counts is that the files are there.
execute_process(COMMAND ${GZIP} -dc ${IN} OUTPUT_FILE ${OUT}.pcap ERROR_QUIET)
execute_process(COMMAND ${EDITCAP} -F nsecpcap ${IN} ${OUT}.ns.pcap ERROR_QUIET OUTPUT_QUIET)
execute_process(COMMAND ${EDITCAP} -F pcapng ${IN} ${OUT}.pcapng ERROR_QUIET OUTPUT_QUIET)
execute_process(COMMAND ${GZIP} -c ${OUT}.pcapng OUTPUT_FILE ${OUT}.pcapng.gz)
foreach(f ${OUT}.pcap ${OUT}.ns.pcap ${OUT}.pcapng ${OUT}.pcapng.gz)
    file(SIZE ${f} size)
    if(size LESS 1000)
        message(FATAL_ERROR "${f}: not written")
    endif()
endforeach()
