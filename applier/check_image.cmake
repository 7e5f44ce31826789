# Run after linking the applier: the patch data is found by searching for "Diff" from
# offset 20000 on, so the applier's own bytes from there must not hold it, or the applier
# would take its own code for patch data.
# Usage: cmake -DIMAGE=applier.exe -P check_image.cmake
file(SIZE "${IMAGE}" size)
if(size GREATER 20000)
  file(READ "${IMAGE}" tail OFFSET 20000 HEX)
  string(FIND "${tail}" "44696666" at)
  # An even hex position is a byte boundary; odd ones are nibble-shifted false matches.
  while(NOT at EQUAL -1)
    math(EXPR odd "${at} % 2")
    if(odd EQUAL 0)
      math(EXPR offset "20000 + ${at} / 2")
      message(FATAL_ERROR "${IMAGE} holds \"Diff\" at offset ${offset}; the patch data search would find it")
    endif()
    math(EXPR next "${at} + 1")
    string(SUBSTRING "${tail}" ${next} -1 tail_rest)
    string(FIND "${tail_rest}" "44696666" found)
    if(found EQUAL -1)
      set(at -1)
    else()
      math(EXPR at "${next} + ${found}")
    endif()
  endwhile()
endif()
message(STATUS "${IMAGE}: ${size} bytes, no \"Diff\" from offset 20000 on")
