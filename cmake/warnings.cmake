# The one place that sets compiler warnings for every target of the project.
# Whether they are errors is decided by the preset (CMAKE_COMPILE_WARNING_AS_ERROR).
function(sift_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wcast-qual
    -Wformat=2 -Wundef -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
    -Wnull-dereference -Wimplicit-fallthrough)
endfunction()
