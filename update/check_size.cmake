# Run after linking the wizard: its own bytes (the program file less the payload resource it
# carries) must stay within the budget, so that what the user downloads is the patch, not
# the wizard.
# Usage: cmake -DIMAGE=Update.exe -DPAYLOAD=payload.exe -DBUDGET=bytes -P check_size.cmake
file(SIZE "${IMAGE}" image_size)
file(SIZE "${PAYLOAD}" payload_size)
math(EXPR own "${image_size} - ${payload_size}")
if(own GREATER BUDGET)
  message(FATAL_ERROR "${IMAGE}: the wizard's own bytes are ${own}, over its budget of ${BUDGET}")
endif()
message(STATUS "${IMAGE}: the wizard's own bytes are ${own} of its budget ${BUDGET}")
