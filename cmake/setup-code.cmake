# Compiler settings of code that goes into setup.exe, for the folders whose code it links.

# Small, no exceptions, no RTTI, unused functions and data dropped at link time. Also for the
# native builds of the portable parts, which the unit tests call.
function(setup_code_options target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
      -ffunction-sections -fdata-sections)
  endif()
endfunction()

# For code only setup.exe links: no exceptions pass through it, so it needs no unwind tables;
# no compiler version string in the image.
function(setup_image_options target)
  setup_code_options(${target})
  target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables -fno-unwind-tables
                                           -fno-ident)
endfunction()
