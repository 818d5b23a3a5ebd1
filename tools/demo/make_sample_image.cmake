# Writes a sample firmware image for the demo device: a few dozen KiB of
# image text followed by the trailer "ODL" + the device kind letter.
# Usage: cmake -DOUTPUT=file -DKIND_LETTER=A -P make_sample_image.cmake
if(NOT OUTPUT OR NOT KIND_LETTER)
    message(FATAL_ERROR "OUTPUT and KIND_LETTER are required")
endif()
set(line "ZUDiruv demo firmware for the simulated Velquor PoE clock, generation B. ")
set(body "")
foreach(block RANGE 1 512)
    string(APPEND body "${block}: ${line}\n")
endforeach()
file(WRITE "${OUTPUT}" "${body}ODL${KIND_LETTER}")
