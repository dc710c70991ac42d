# The desktop part of loom: OpenGL drawing, X11/GLX viewer windows on their own threads, the GTK
# dialog and console window, and the scripted GUI mode that the GUI tests drive under Xvfb.
# Included from loom/CMakeLists.txt; the parts that need GTK 3, X11, OpenGL and GLU build only
# when they are found.

# Camera, frame stepping and picture layout: no window system, tested without a display.
add_library(loom_view STATIC
    bmp_capture.cpp
    view_camera.cpp
    view_frames.cpp
)
target_include_directories(loom_view PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(loom_view PUBLIC fileout)

meshwork_add_fuzzer(bmp_decode_fuzz SOURCE fuzz/bmp_decode_fuzz.cpp LIBS loom_view
    CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/bmp_decode_fuzz)

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(LOOM_GTK3 IMPORTED_TARGET gtk+-3.0)
endif()
find_package(X11)
find_package(Threads REQUIRED)
set(OpenGL_GL_PREFERENCE GLVND)
find_package(OpenGL COMPONENTS OpenGL GLX)

if(NOT (LOOM_GTK3_FOUND AND X11_FOUND AND OpenGL_OpenGL_FOUND AND OpenGL_GLX_FOUND
        AND OPENGL_GLU_FOUND))
    message(STATUS "loom: GTK 3, X11, OpenGL or GLU missing; building loom without its desktop")
    return()
endif()


# OpenGL drawing (gl_area, md_area, bm_area), X11/GLX windows and threads (viewer_window,
# viewer_host), the GTK dialog, console window and scripted mode, and the program's start.
add_library(loom_gui STATIC
    bm_area.cpp
    cloom_dlg.cpp
    console_window.cpp
    desktop.cpp
    gl_area.cpp
    gui_script.cpp
    md_area.cpp
    viewer_host.cpp
    viewer_window.cpp
)
target_link_libraries(loom_gui PUBLIC loom_view loom_core OpenGL::GL OpenGL::GLX OpenGL::GLU
                      X11::X11 PkgConfig::LOOM_GTK3 Threads::Threads)

target_link_libraries(loom PRIVATE loom_gui)
target_compile_definitions(loom PRIVATE LOOM_DESKTOP=1)

meshwork_add_tests(loom_gui_tests
    SOURCES bmp_capture_test.cpp view_camera_test.cpp view_frames_test.cpp viewer_keys_test.cpp
            viewer_window_test.cpp
    LIBS loom_gui
)

# The desktop program end to end under xvfb-run (skipped when it is missing). One virtual X
# server at a time: parallel xvfb-run -a calls can race for the same display number.
if(MESHWORK_TESTS)
    add_executable(loom_gui_e2e_tests desktop_e2e_test.cpp)
    target_link_libraries(loom_gui_e2e_tests PRIVATE loom_view meshgen GTest::gtest
                          GTest::gtest_main)
    target_compile_definitions(loom_gui_e2e_tests PRIVATE LOOM_BINARY="$<TARGET_FILE:loom>")
    add_dependencies(loom_gui_e2e_tests loom)
    gtest_discover_tests(loom_gui_e2e_tests
        PROPERTIES LABELS e2e RUN_SERIAL TRUE
                   ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan_desktop.supp"
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        DISCOVERY_TIMEOUT 60)
endif()

# Frame rates of both viewers (re-runs itself under xvfb-run without a display).
meshwork_add_bench(viewer_fps_bench SOURCES bench/viewer_fps_bench.cpp LIBS loom_gui meshgen)
# The renderer's own cost for the surface viewer's drawing, in a minimal GL program.
meshwork_add_bench(gl_floor_bench SOURCES bench/gl_floor_bench.cpp LIBS loom_gui meshgen)
if(TARGET viewer_fps_bench AND MESHWORK_TESTS)
    set_tests_properties(viewer_fps_bench_quick gl_floor_bench_quick PROPERTIES RUN_SERIAL TRUE)
endif()
