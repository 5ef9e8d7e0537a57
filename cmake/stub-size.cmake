# The patch program is carried by every distributed patch: it is built for
# size. Its libraries are compiled with -Os, except the CRC-32 code, which
# keeps the release optimisation (it reads the whole target file).
foreach(lib zelp_ui zelp_engine zelp_stamp zelp_file zelp_common)
  target_compile_options(${lib} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-Os>)
endforeach()
target_compile_options(zelp-stub PRIVATE $<$<CONFIG:Release,MinSizeRel>:-Os>)
set_source_files_properties(src/file/crc32.cpp src/file/crc32_x86.cpp DIRECTORY src/file
  PROPERTIES COMPILE_OPTIONS $<$<CONFIG:Release>:-O3>)
