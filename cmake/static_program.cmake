# How the programs are linked with SIFT_STATIC_PROGRAM: as a static PIE where the toolchain makes
# one, else plainly static. A plain static program registers its unwind tables at start-up and
# sorts all of them at its first exception (about 1 ms, on every log whose grade ends in an
# error); a static PIE finds a frame's table by the search table the linker writes, as a dynamic
# program does.
if(SIFT_STATIC_PROGRAM)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS -fPIE)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
  check_cxx_source_compiles("int main() { return 0; }" SIFT_HAVE_STATIC_PIE)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(SIFT_HAVE_STATIC_PIE)
    # Every object of a static PIE must be position-independent (most toolchains make them so
    # by default already).
    add_compile_options(-fPIE)
  endif()
endif()

# Links `target` statically when SIFT_STATIC_PROGRAM is on.
function(sift_link_static target)
  if(NOT SIFT_STATIC_PROGRAM)
    return()
  endif()
  if(SIFT_HAVE_STATIC_PIE)
    target_link_options(${target} PRIVATE -static-pie)
  else()
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()
