# Own code builds warning-free; the libraries come in as SYSTEM includes.
# Warnings are errors where the compiler is known (the presets and CI switch
# LOGREAP_WERROR on); someone building from source with another compiler gets
# the warnings without a failed build.
option(LOGREAP_WERROR "Treat warnings in own code as errors" OFF)

add_library(logreap_warnings INTERFACE)
add_library(logreap::warnings ALIAS logreap_warnings)
target_compile_options(logreap_warnings INTERFACE -Wall -Wextra -Wpedantic
                       $<$<BOOL:${LOGREAP_WERROR}>:-Werror>)
