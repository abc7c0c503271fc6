# Warnings belong to our own targets, not to the global flags, so that
# third-party headers pulled in through imported targets stay quiet.
function(relay_panel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(RELAY_PANEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
