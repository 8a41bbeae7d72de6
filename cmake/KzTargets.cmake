# Policy shared by every target: the language level, warnings and Qt's strict
# string handling (no silent conversions between bytes and text).
add_library(kz_common INTERFACE)
target_compile_features(kz_common INTERFACE cxx_std_20)
# -Wshadow, -Wnon-virtual-dtor and -Woverloaded-virtual catch the slips that
# the controllers' many members and virtual hooks invite; CI adds -Werror.
target_compile_options(kz_common INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
if(KZ_WERROR)
  target_compile_options(kz_common INTERFACE -Werror)
endif()
target_compile_definitions(kz_common INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_USE_QSTRINGBUILDER
  QT_NO_KEYWORDS)
if(KZ_SANITIZE_THREAD)
  # GCC warns of uninitialised reads inside the instrumentation here too.
  target_compile_options(kz_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer
    $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
  target_link_options(kz_common INTERFACE -fsanitize=thread)
endif()
if(KZ_SANITIZE)
  # Every finding stops the program, so that a test run cannot pass over it.
  # GCC's flow analysis sees uninitialised reads in the sanitizers' own
  # instrumentation; the build without them keeps that warning.
  target_compile_options(kz_common INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
    $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
  target_link_options(kz_common INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# kz_add_library(NAME DIR <dir> [UI] [LINK deps...] [PRIVATE deps...])
# Sources are the .cpp/.h files of one folder (sub-folders included); a new
# file is picked up at the next build without editing a list. Files under a
# "ui/" folder at any depth (app/ui/, app/search/ui/) hold widgets: they form
# the UI target of the folder and are left out of its headless target.
# EXCLUDE drops files by regular expression (the program's entry point).
# LINK names what the folder's headers include, so dependants see it too;
# PRIVATE names what only its .cpp files include (OpenSSL, libplist), which
# then reaches dependants at link time only, never their include paths.
function(kz_glob_sources out dir ui exclude)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${dir}/*.cpp" "${dir}/*.h")
  if(ui)
    list(FILTER sources INCLUDE REGEX "/ui/")
  else()
    list(FILTER sources EXCLUDE REGEX "/ui/")
  endif()
  if(exclude)
    list(FILTER sources EXCLUDE REGEX "${exclude}")
  endif()
  set(${out} "${sources}" PARENT_SCOPE)
endfunction()

function(kz_add_library name)
  cmake_parse_arguments(ARG "UI" "DIR;EXCLUDE" "LINK;PRIVATE" ${ARGN})
  kz_glob_sources(sources "${ARG_DIR}" "${ARG_UI}" "${ARG_EXCLUDE}")
  if(NOT sources MATCHES "\\.cpp")
    # A folder whose classes are still to come: keep the target so that its
    # dependants link, without an empty archive.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}/src")
    target_link_libraries(${name} INTERFACE kz_common ${ARG_LINK})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}/src")
  target_link_libraries(${name} PUBLIC kz_common ${ARG_LINK} PRIVATE ${ARG_PRIVATE})
  add_dependencies(${name} kz_resources)
endfunction()

# kz_add_test(NAME DIR <dir> [UI] LINK deps...)
# One GoogleTest executable per library; every case is registered with ctest.
# UI suites (the "ui/" sub-folder) start a QApplication, the others a
# QCoreApplication.
function(kz_add_test name)
  cmake_parse_arguments(ARG "UI" "DIR" "LINK" ${ARGN})
  kz_glob_sources(sources "${ARG_DIR}" "${ARG_UI}" "")
  if(ARG_UI)
    set(support kz_test_support_ui)
  else()
    set(support kz_test_support)
  endif()
  if(NOT sources MATCHES "\\.cpp")
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE kz_common ${support} ${ARG_LINK} GTest::gtest GTest::gmock)
  # Parameterised cases are named by their name generators; without
  # NO_PRETTY_VALUES the printed parameter would be glued onto the ctest name.
  gtest_discover_tests(${name}
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()
