// The program's option pages by kind. A page of a new kind is added with one
// RegisterOptionsPage line here.
#include "options/opts_avi.h"
#include "options/opts_capture_image.h"
#include "options/opts_file_format.h"
#include "options/opts_general.h"
#include "options/opts_gif.h"
#include "options/opts_jpeg.h"
#include "options/opts_jpeg2000.h"
#include "options/opts_media_document.h"
#include "options/opts_page.h"
#include "options/opts_pict_in_pict.h"
#include "options/opts_png.h"
#include "options/opts_reference_frames.h"
#include "options/opts_sampling.h"
#include "options/opts_save_stream.h"
#include "options/opts_tiff.h"
#include "options/opts_transform_2d.h"
#include "options/opts_video.h"
#include "options/opts_video_pane.h"
#include "options/opts_wmf.h"

namespace OptsPage {

void RegisterStandardOptionsPages() {
  // Pages live on the UI thread; the flag is set first, so the registrations
  // below (which call back here) return at once.
  static bool done = false;
  if (done) return;
  done = true;
  RegisterOptionsPage(PAGE_GENERAL, [] { return new OptsGeneral::COptsGeneral; });
  RegisterOptionsPage(PAGE_MEDIA_DOCUMENT, [] { return new OptsMediaDocument::COptsMediaDocument; });
  RegisterOptionsPage(PAGE_JPEG, [] { return new OptsJpeg::COptsJpeg; });
  RegisterOptionsPage(PAGE_PNG, [] { return new OptsPng::COptsPng; });
  RegisterOptionsPage(PAGE_GIF, [] { return new OptsGif::COptsGif; });
  RegisterOptionsPage(PAGE_JPEG2000, [] { return new OptsJpeg2000::COptsJpeg2000; });
  RegisterOptionsPage(PAGE_TIFF, [] { return new OptsTiff::COptsTiff; });
  RegisterOptionsPage(PAGE_YUV, [] { return new OptsFileFormat::COptsFileFormat; });
  RegisterOptionsPage(PAGE_REFERENCE_FRAMES, [] { return new OptsReferenceFrames::COptsReferenceFrames; });
  RegisterOptionsPage(PAGE_VIDEO, [] { return new OptsVideo::COptsVideo; });
  RegisterOptionsPage(PAGE_VIDEO_PANE, [] { return new OptsVideoPane::COptsVideoPane; });
  RegisterOptionsPage(PAGE_PIP, [] { return new OptsPictInPict::COptsPictInPict; });
  RegisterOptionsPage(PAGE_SAVE_STREAM, [] { return new OptsSaveStream::CZarnOptsSaveStream; });
  RegisterOptionsPage(PAGE_SAMPLING, [] { return new OptsSaveStreamSampling::COptsSaveStreamSampling; });
  RegisterOptionsPage(PAGE_SAVE_IMAGE, [] { return new OptsCaptureImage::CZarnOptsSaveImage; });
  RegisterOptionsPage(PAGE_AVI, [] { return new OptsAvi::COptsAvi; });
  RegisterOptionsPage(PAGE_WMF, [] { return new OptsWmf::COptsWmf; });
  RegisterOptionsPage(PAGE_TRANSFORM_2D, [] { return new OptsTransform2D::COptsTransform2D; });
}

}  // namespace OptsPage
