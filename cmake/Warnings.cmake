# Own code builds warning-free; the libraries come in as SYSTEM includes.
add_library(logreap_warnings INTERFACE)
add_library(logreap::warnings ALIAS logreap_warnings)
target_compile_options(logreap_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
