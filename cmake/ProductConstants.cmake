# product_constants(OUT_VAR PROFILE): the wizard's constants (ConstValue.cpp) made from a
# product profile by the native profilegen that lies beside PATCHTOOL; OUT_VAR receives the
# generated source. profilegen refuses a profile that cannot serve, naming the key.
function(product_constants out_var profile)
  get_filename_component(native_tools "${PATCHTOOL}" DIRECTORY)
  set(profilegen "${native_tools}/profilegen")
  if(NOT EXISTS "${profilegen}")
    message(FATAL_ERROR "${profilegen} is missing: build the native tools first (make build)")
  endif()
  set(source "${CMAKE_CURRENT_BINARY_DIR}/ConstValue.cpp")
  add_custom_command(
    OUTPUT "${source}"
    COMMAND "${profilegen}" "${profile}" -o "${source}"
    DEPENDS "${profile}" "${profilegen}"
    COMMENT "Product constants from ${profile}"
    VERBATIM)
  set(${out_var} "${source}" PARENT_SCOPE)
endfunction()
