# Warnings are errors in our own targets so that the count stays at zero.
function(updater_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion -Wformat=2 -Werror)
endfunction()
