# Third-party libraries, found once for the whole tree.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(TIFF REQUIRED)
find_package(GIF REQUIRED)
pkg_check_modules(OPENJPEG REQUIRED IMPORTED_TARGET libopenjp2)
find_path(MNG_INCLUDE_DIR libmng.h REQUIRED)
find_library(MNG_LIBRARY mng REQUIRED)
add_library(tovrin_mng INTERFACE)
target_include_directories(tovrin_mng INTERFACE ${MNG_INCLUDE_DIR})
target_link_libraries(tovrin_mng INTERFACE ${MNG_LIBRARY})
find_package(pugixml REQUIRED)

# The media graph runs on GStreamer. GStreamer and glib are not built for
# ThreadSanitizer, so TSan builds leave the media graph out by default.
if(TOVRIN_SANITIZE MATCHES "thread")
  set(_gst_default OFF)
else()
  set(_gst_default ON)
endif()
option(TOVRIN_WITH_GSTREAMER "Build the media-graph sessions on GStreamer" ${_gst_default})
if(TOVRIN_WITH_GSTREAMER)
  pkg_check_modules(GST REQUIRED IMPORTED_TARGET
    gstreamer-1.0 gstreamer-base-1.0 gstreamer-video-1.0 gstreamer-app-1.0)
endif()

if(TOVRIN_BUILD_APP OR TOVRIN_BUILD_TESTS)
  # The media layers never link Qt; the shell does, and the tests use QImage
  # as an independent reader to cross-check the image codecs.
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets PrintSupport)
endif()
if(TOVRIN_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(TOVRIN_BUILD_BENCH)
  find_package(benchmark REQUIRED)
  # libyuv is the peer the colour-conversion benchmark is measured against.
  find_path(LIBYUV_INCLUDE_DIR libyuv.h REQUIRED)
  find_library(LIBYUV_LIBRARY yuv REQUIRED)
  add_library(tovrin_libyuv INTERFACE)
  target_include_directories(tovrin_libyuv INTERFACE ${LIBYUV_INCLUDE_DIR})
  target_link_libraries(tovrin_libyuv INTERFACE ${LIBYUV_LIBRARY})
endif()
