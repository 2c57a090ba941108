# Lays system/ and web/ beside the executables. The greetings are the owner's once
# they exist there (recorded by the program), so a rebuild never replaces them.
file(GLOB prompts RELATIVE ${SRC}/system ${SRC}/system/*)
file(MAKE_DIRECTORY ${DST}/system ${DST}/web)
foreach(f ${prompts})
  if((f STREQUAL "announce.wav" OR f STREQUAL "announc2.wav") AND EXISTS ${DST}/system/${f})
    continue()
  endif()
  file(COPY_FILE ${SRC}/system/${f} ${DST}/system/${f} ONLY_IF_DIFFERENT)
endforeach()
file(GLOB pagefiles RELATIVE ${SRC}/web ${SRC}/web/*)
foreach(f ${pagefiles})
  file(COPY_FILE ${SRC}/web/${f} ${DST}/web/${f} ONLY_IF_DIFFERENT)
endforeach()
