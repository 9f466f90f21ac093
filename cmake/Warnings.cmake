# The project's own builds (its presets, CI) turn warnings into errors so that the count stays
# at zero. A plain build leaves them warnings: another compiler release may warn where ours
# does not, and that must not stop a user or a packager from building.
option(UPDATER_WERROR "Treat compiler warnings as errors" OFF)

function(updater_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion -Wformat=2)
  if(UPDATER_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
