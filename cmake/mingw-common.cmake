# The programs are built with the win32 thread model: it needs no threading
# library, so they import nothing newer than Windows XP (the system logic takes
# its threads and locks from platform/sync). GoogleTest needs the standard
# library's threads, so the test programs are built in a tree of their own with
# the posix model (KMR_MINGW_THREADS=posix) over the same Win32 seams.
if(NOT KMR_MINGW_THREADS)
  set(KMR_MINGW_THREADS win32)
endif()
set(CMAKE_C_COMPILER ${KMR_MINGW_TRIPLE}-gcc-${KMR_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${KMR_MINGW_TRIPLE}-g++-${KMR_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${KMR_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KMR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
