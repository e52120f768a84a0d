# Compiler flags of the project's own targets. Results are compared bit for bit: no
# contraction into fused multiply-add and nothing that reassociates floating-point
# arithmetic.
function(vrn_target_flags target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -ffp-contract=off)
  if(VRN_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${VRN_SANITIZE} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PUBLIC -fsanitize=${VRN_SANITIZE})
  endif()
endfunction()
