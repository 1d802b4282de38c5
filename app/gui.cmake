# The window. Built only where Qt 6 Widgets is installed; everything else
# (the compiler, the command-line tool, their tests) builds without it.
find_package(Qt6 COMPONENTS Widgets SerialPort QUIET)
if(NOT Qt6Widgets_FOUND)
  message(STATUS "Qt 6 Widgets not found: the window (mirtolan) is not built")
  return()
endif()

set(CMAKE_AUTOMOC ON)

# The window's code as a library, so the window tests drive the same code.
add_library(mirtolan_window STATIC
  ${CMAKE_CURRENT_LIST_DIR}/window/Main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/Main.h
  ${CMAKE_CURRENT_LIST_DIR}/window/SourceEditor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/SourceEditor.h
  ${CMAKE_CURRENT_LIST_DIR}/window/Settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/Settings.h
  ${CMAKE_CURRENT_LIST_DIR}/window/BuildController.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/BuildController.h
  ${CMAKE_CURRENT_LIST_DIR}/window/FileEncoding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/DiskFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/DiskFile.h
  ${CMAKE_CURRENT_LIST_DIR}/window/Colours.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/Colours.h
  ${CMAKE_CURRENT_LIST_DIR}/window/WordIndex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/WordIndex.h
  ${CMAKE_CURRENT_LIST_DIR}/window/FileEncoding.h
  ${CMAKE_CURRENT_LIST_DIR}/window/ListingView.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/ListingView.h
  ${CMAKE_CURRENT_LIST_DIR}/window/MessagePane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/MessagePane.h
  ${CMAKE_CURRENT_LIST_DIR}/window/ForthWords.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/ForthWords.h
  ${CMAKE_CURRENT_LIST_DIR}/window/HelpText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/HelpText.h
  ${CMAKE_CURRENT_LIST_DIR}/window/FindReplaceBar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window/FindReplaceBar.h
)
# Help > Language reference shows the README's language sections and the word reference, built in.
qt_add_resources(mirtolan_window "help"
  PREFIX "/help"
  BASE ${CMAKE_CURRENT_LIST_DIR}/..
  FILES ${CMAKE_CURRENT_LIST_DIR}/../README.md ${CMAKE_CURRENT_LIST_DIR}/../docs/words.md)
# Upload and the serial monitor, when QtSerialPort is there.
if(Qt6SerialPort_FOUND)
  target_sources(mirtolan_window PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/board/UploadSettings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/board/UploadSettings.h
    ${CMAKE_CURRENT_LIST_DIR}/board/UploadDialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/board/UploadDialog.h
    ${CMAKE_CURRENT_LIST_DIR}/board/UploadController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/board/UploadController.h
    ${CMAKE_CURRENT_LIST_DIR}/board/SerialMonitor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/board/SerialMonitor.h
    ${CMAKE_CURRENT_LIST_DIR}/board/UploadActions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/board/UploadActions.h
    ${CMAKE_CURRENT_LIST_DIR}/board/UploadTool.cpp
    ${CMAKE_CURRENT_LIST_DIR}/board/UploadTool.h)
  target_link_libraries(mirtolan_window PUBLIC Qt6::SerialPort mirtolan_upload mirtolan_builder)
  target_compile_definitions(mirtolan_window PUBLIC MIRTOLAN_HAVE_UPLOAD=1)
else()
  message(STATUS "Qt 6 SerialPort not found: the window has no upload or serial monitor (qt6-serialport-dev)")
endif()
target_include_directories(mirtolan_window PUBLIC ${CMAKE_CURRENT_LIST_DIR}/window ${CMAKE_CURRENT_LIST_DIR}/run
  ${CMAKE_CURRENT_LIST_DIR}/board)
target_link_libraries(mirtolan_window PUBLIC mirtolan_builder Qt6::Widgets)
# The Run pane, where the simulator is there to run programs.
if(TARGET mirtolan_simulator)
  target_sources(mirtolan_window PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/run/RunPane.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run/RunPane.h
    ${CMAKE_CURRENT_LIST_DIR}/run/WaveformView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run/WaveformView.h
    ${CMAKE_CURRENT_LIST_DIR}/run/RunWindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run/RunWindow.h)
  target_compile_definitions(mirtolan_window PUBLIC MIRTOLAN_RUN)
  target_link_libraries(mirtolan_window PUBLIC mirtolan_simulator)
endif()
# The debugger's panes, the board and the Debug menu, where the debugger is built.
if(TARGET mirtolan_simulator AND TARGET mirtolan_debugger)
  target_sources(mirtolan_window PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/debug/DebugController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/debug/DebugController.h
    ${CMAKE_CURRENT_LIST_DIR}/debug/DebugPane.cpp
    ${CMAKE_CURRENT_LIST_DIR}/debug/DebugPane.h
    ${CMAKE_CURRENT_LIST_DIR}/debug/BoardView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/debug/BoardView.h
    ${CMAKE_CURRENT_LIST_DIR}/debug/Breakpoints.cpp
    ${CMAKE_CURRENT_LIST_DIR}/debug/Breakpoints.h
    ${CMAKE_CURRENT_LIST_DIR}/debug/DebugWindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/debug/DebugWindow.h)
  target_include_directories(mirtolan_window PUBLIC ${CMAKE_CURRENT_LIST_DIR}/debug)
  target_compile_definitions(mirtolan_window PUBLIC MIRTOLAN_DEBUGGER)
  target_link_libraries(mirtolan_window PUBLIC mirtolan_debugger)
endif()

# Test (Ctrl+T) and the Tests pane, where the test runner is built.
if(TARGET mirtolan_testing)
  target_sources(mirtolan_window PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/test/TestPane.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test/TestPane.h
    ${CMAKE_CURRENT_LIST_DIR}/test/TestTool.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test/TestTool.h)
  target_include_directories(mirtolan_window PUBLIC ${CMAKE_CURRENT_LIST_DIR}/test)
  target_compile_definitions(mirtolan_window PUBLIC MIRTOLAN_TEST)
  target_link_libraries(mirtolan_window PUBLIC mirtolan_testing)
endif()

add_executable(mirtolan ${CMAKE_CURRENT_LIST_DIR}/window/main.cpp)
target_link_libraries(mirtolan PRIVATE mirtolan_window)
target_compile_definitions(mirtolan PRIVATE MIRTOLAN_VERSION="${PROJECT_VERSION}")

# bench/window times F9 on a large source with this; not built by default.
add_executable(window_f9 EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/../bench/window_f9.cpp)
target_link_libraries(window_f9 PRIVATE mirtolan_window)
# bench/window_use times the waveform, completion and the serial monitor under load.
if(TARGET mirtolan_simulator AND Qt6SerialPort_FOUND)
  add_executable(window_use EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/../bench/window_use.cpp)
  target_link_libraries(window_use PRIVATE mirtolan_window)
endif()

# The shipped examples beside the run-time, where File > Examples finds them
# in the build tree as in an installed one.
file(GLOB MIRTOLAN_EXAMPLES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.4th)
foreach(f IN LISTS MIRTOLAN_EXAMPLES)
  get_filename_component(name ${f} NAME)
  configure_file(${f} ${MIRTOLAN_SHARE_DIR}/examples/${name} COPYONLY)
endforeach()
