# Warnings are errors on our own code. Targets call suite_strict_warnings();
# third-party code never gets these flags.
function(suite_strict_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
