# Paths of the source tree enter the program relative to its root: __FILE__ in
# the logging macros (the log file's call sites read src/logreap/Purge.cpp:42
# wherever the tree was built) and the debug information. With no absolute
# path of the build machine left in the objects, two builds of the same tree
# in different folders give the same binary.
#
# -ffile-prefix-map implies -fmacro-prefix-map (__FILE__, std::source_location)
# and -fdebug-prefix-map. The resource compiler takes no such option.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>")
