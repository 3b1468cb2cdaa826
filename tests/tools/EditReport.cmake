# Copies a report with one field changed: the first boot's entry status.
#   cmake -DIN=report.json -DOUT=edited.json -P EditReport.cmake
file(READ ${IN} Report)
string(JSON Edited SET "${Report}" boots 0 entry_status "\"EFI_ABORTED\"")
file(WRITE ${OUT} "${Edited}")
