# The formatting check behind the clang_format test: every C++ source of the
# project's own, as .clang-format lays it out. Run as
#   cmake -DCLANG_FORMAT=<program> -DROOT=<source dir> -P check_format.cmake
# The public C header keeps its hand-aligned columns and is left out, as are
# the C files (examples, the web glue, the scripts' helper).
set(folders api codec g723 speed conversion cli convertor tests fuzz bench python)
set(patterns)
foreach(folder ${folders})
  list(APPEND patterns ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.h)
endforeach()
file(GLOB_RECURSE files RELATIVE ${ROOT} ${patterns})
list(FILTER files EXCLUDE REGEX "^fuzz/corpus/")
list(SORT files)
if(NOT files)
  message(FATAL_ERROR "check_format: no sources under ${ROOT}")
endif()
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${files}
  WORKING_DIRECTORY ${ROOT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "check_format: the files above differ from .clang-format; run clang-format -i on them")
endif()
