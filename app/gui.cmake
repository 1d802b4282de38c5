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
  ${CMAKE_CURRENT_LIST_DIR}/Main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Main.h
  ${CMAKE_CURRENT_LIST_DIR}/SourceEditor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SourceEditor.h
  ${CMAKE_CURRENT_LIST_DIR}/Settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Settings.h
  ${CMAKE_CURRENT_LIST_DIR}/BuildController.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BuildController.h
  ${CMAKE_CURRENT_LIST_DIR}/FileEncoding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileEncoding.h
  ${CMAKE_CURRENT_LIST_DIR}/ListingView.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListingView.h
  ${CMAKE_CURRENT_LIST_DIR}/MessagePane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MessagePane.h
  ${CMAKE_CURRENT_LIST_DIR}/ForthWords.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ForthWords.h
  ${CMAKE_CURRENT_LIST_DIR}/HelpText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HelpText.h
  ${CMAKE_CURRENT_LIST_DIR}/FindReplaceBar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FindReplaceBar.h
)
# Help > Language reference shows the README's language sections and the word reference, built in.
qt_add_resources(mirtolan_window "help"
  PREFIX "/help"
  BASE ${CMAKE_CURRENT_LIST_DIR}/..
  FILES ${CMAKE_CURRENT_LIST_DIR}/../README.md ${CMAKE_CURRENT_LIST_DIR}/../docs/words.md)
# Upload and the serial monitor, when QtSerialPort is there.
if(Qt6SerialPort_FOUND)
  target_sources(mirtolan_window PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/UploadSettings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UploadSettings.h
    ${CMAKE_CURRENT_LIST_DIR}/UploadDialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UploadDialog.h
    ${CMAKE_CURRENT_LIST_DIR}/UploadController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UploadController.h
    ${CMAKE_CURRENT_LIST_DIR}/SerialMonitor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SerialMonitor.h
    ${CMAKE_CURRENT_LIST_DIR}/UploadActions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UploadActions.h
    ${CMAKE_CURRENT_LIST_DIR}/UploadTool.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UploadTool.h)
  target_link_libraries(mirtolan_window PUBLIC Qt6::SerialPort mirtolan_upload mirtolan_builder)
  target_compile_definitions(mirtolan_window PUBLIC MIRTOLAN_HAVE_UPLOAD=1)
else()
  message(STATUS "Qt 6 SerialPort not found: the window has no upload or serial monitor (qt6-serialport-dev)")
endif()
target_include_directories(mirtolan_window PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(mirtolan_window PUBLIC mirtolan_builder Qt6::Widgets)
# The Run pane, where the simulator is there to run programs.
if(TARGET mirtolan_simulator)
  target_sources(mirtolan_window PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/RunPane.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RunPane.h
    ${CMAKE_CURRENT_LIST_DIR}/RunWindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RunWindow.h)
  target_compile_definitions(mirtolan_window PUBLIC MIRTOLAN_RUN)
  target_link_libraries(mirtolan_window PUBLIC mirtolan_simulator)
endif()

add_executable(mirtolan ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(mirtolan PRIVATE mirtolan_window)
target_compile_definitions(mirtolan PRIVATE MIRTOLAN_VERSION="${PROJECT_VERSION}")

# bench/window times F9 on a large source with this; not built by default.
add_executable(window_f9 EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/../bench/window_f9.cpp)
target_link_libraries(window_f9 PRIVATE mirtolan_window)
