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

# Precompiled headers: the Qt and standard headers that nearly every file
# reads through its own headers are parsed once per build instead of once per
# file. Two headers serve every library (one without widgets, one with), and
# two more the test suites, so they are compiled four times, not once per
# target; the targets that reuse them get the same options from kz_common.
#
# Off by default: a file then costs 20-50% less compiler time, but the .gch
# differs from one build folder to the next, so ccache can no longer hand the
# objects of one checkout to another (the clean clone of CI, a second
# worktree) and every such build starts cold. Worth turning on for a one-off
# build without a warm cache. The sloppiness ccache needs with them is set in
# the top-level CMakeLists.txt.
option(KZ_PRECOMPILE_HEADERS "Precompile the common Qt, standard and GoogleTest headers" OFF)
set(KZ_PCH_CORE_HEADERS
  <QByteArray> <QDateTime> <QFile> <QHash> <QList> <QMetaType> <QObject> <QPointer>
  <QString> <QStringList> <QUrl> <QVariant> <QVariantList> <QVariantMap> <QtGlobal>
  <algorithm> <atomic> <condition_variable> <filesystem> <functional> <map> <memory>
  <mutex> <optional> <string> <thread> <unordered_map> <utility> <vector>)
set(KZ_PCH_WIDGET_HEADERS ${KZ_PCH_CORE_HEADERS}
  <QApplication> <QBoxLayout> <QImage> <QLabel> <QMouseEvent> <QPainter> <QPainterPath>
  <QPixmap> <QPushButton> <QTimer> <QToolButton> <QWidget>)

function(kz_add_pch_target name)
  set(source "${CMAKE_BINARY_DIR}/${name}.cpp")
  if(NOT EXISTS "${source}")
    file(WRITE "${source}" "// Only carries the precompiled header that other targets reuse.\n")
  endif()
  add_library(${name} STATIC "${source}")
  set_target_properties(${name} PROPERTIES AUTOMOC OFF)
  target_link_libraries(${name} PRIVATE kz_common ${ARGN})
endfunction()

if(KZ_PRECOMPILE_HEADERS)
  kz_add_pch_target(kz_pch_core Qt6::Core)
  target_precompile_headers(kz_pch_core PRIVATE ${KZ_PCH_CORE_HEADERS})
  if(KZ_WITH_UI)
    kz_add_pch_target(kz_pch_widgets Qt6::Widgets)
    target_precompile_headers(kz_pch_widgets PRIVATE ${KZ_PCH_WIDGET_HEADERS})
  endif()
endif()

# Makes `target` reuse the precompiled header of its kind: `core` for a
# headless target, `widgets` for a widget target.
function(kz_use_pch target ui core widgets)
  if(NOT KZ_PRECOMPILE_HEADERS)
    return()
  endif()
  if(ui)
    target_precompile_headers(${target} REUSE_FROM ${widgets})
  else()
    target_precompile_headers(${target} REUSE_FROM ${core})
  endif()
endfunction()

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
  file(GLOB_RECURSE found CONFIGURE_DEPENDS "${dir}/*.cpp" "${dir}/*.h")
  # Files are judged by their path inside the checkout: the checkout itself
  # may lie below a folder named "ui" (a worktree called so, say), which must
  # not move every file into the UI target.
  set(sources "")
  foreach(source IN LISTS found)
    file(RELATIVE_PATH inside "${CMAKE_SOURCE_DIR}" "${source}")
    set(inside "/${inside}")
    if(inside MATCHES "/ui/")
      set(isUi TRUE)
    else()
      set(isUi FALSE)
    endif()
    if(ui)
      set(wantUi TRUE)
    else()
      set(wantUi FALSE)
    endif()
    if(NOT isUi STREQUAL wantUi)
      continue()
    endif()
    if(exclude AND inside MATCHES "${exclude}")
      continue()
    endif()
    list(APPEND sources "${source}")
  endforeach()
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
  kz_use_pch(${name} "${ARG_UI}" kz_pch_core kz_pch_widgets)
endfunction()

# kz_add_test(NAME DIR <dir> [UI] LINK deps...)
# One GoogleTest executable per library; every case is registered with ctest,
# labelled with the executable's name (ctest -L picks one suite's cases).
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
  kz_use_pch(${name} "${ARG_UI}" kz_pch_tests kz_pch_tests_ui)
  # Parameterised cases are named by their name generators; without
  # NO_PRETTY_VALUES the printed parameter would be glued onto the ctest name.
  gtest_discover_tests(${name}
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300 LABELS ${name})
endfunction()
