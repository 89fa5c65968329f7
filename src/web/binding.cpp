// The module's entry points, which web/core.js calls: C functions taking
// and giving JSON text. Texts handed out are malloc'd; the caller frees
// them. Paths are those of the module's in-memory file system, where the
// worker puts the page's files.
#include <emscripten/emscripten.h>

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "base/memory_budget.h"
#include "mapfile/encoder_params.h"
#include "raster/codecs/decode_limits.h"
#include "web/map_views.h"
#include "web/web_job.h"

namespace {

using Json = nlohmann::ordered_json;

char* Copy(const std::string& text) { return strdup(text.c_str()); }

Json SettingJson(const rzt2::IntSetting& setting) {
  Json json{{"name", setting.name}, {"label", setting.label}, {"default", setting.defaultValue}};
  if (setting.range) {
    json["min"] = setting.range->min;
    json["max"] = setting.range->max;
  }
  const std::span<const rzt2::SettingChoice> choices = rzt2::ChoicesOf(setting);
  if (!choices.empty()) {
    json["choices"] = Json::array();
    for (const rzt2::SettingChoice& choice : choices)
      json["choices"].push_back({{"value", choice.value}, {"label", choice.label}});
  }
  return json;
}

// Hands a picture's pixels over: the caller frees them.
int GivePicture(rzt2::Status status, rzt2::RgbaPicture& picture, uint32_t* size, uint8_t** pixels) {
  if (status != rzt2::Status::Ok) return static_cast<int>(status);
  *pixels = static_cast<uint8_t*>(std::malloc(std::max<size_t>(picture.pixels.size(), 1)));
  if (*pixels == nullptr) return static_cast<int>(rzt2::Status::OutOfMemory);
  std::memcpy(*pixels, picture.pixels.data(), picture.pixels.size());
  size[0] = picture.width;
  size[1] = picture.height;
  return 0;
}

}  // namespace

extern "C" {

// The settings the page's form is built from: each declared once in the
// core, with its stored name, label, default, range and the items of a
// setting offered as a list; the frame formats (also the export formats)
// by name. The resolution of drawn pictures is left out: none is drawn here.
EMSCRIPTEN_KEEPALIVE char* rzt2_settings() {
  Json settings = Json::array();
  for (const rzt2::EncoderParamField& field : rzt2::kEncoderParamFields) {
    settings.push_back(SettingJson(*field.setting));
  }
  settings.push_back(SettingJson(rzt2::kAllPages));
  settings.push_back(SettingJson(rzt2::kMaxPages));
  Json formats = Json::array();
  for (const rzt2::ImageFormat& format : rzt2::kFrameFormats) formats.push_back(format.name);
  Json decoded = Json::array();
  for (const rzt2::ImageFormat& format : rzt2::kImageFormats) {
    if (format.decode != rzt2::DecodeRendered) decoded.push_back(format.name);
  }
  return Copy(Json{{"settings", settings}, {"frameFormats", formats}, {"decodedFormats", decoded}}.dump());
}

// The bytes the pictures' pixels may take; the largest picture converted
// follows from it.
EMSCRIPTEN_KEEPALIVE void rzt2_set_memory_budget(double bytes) {
  rzt2::MemoryBudget::Process().SetLimit(static_cast<uint64_t>(std::max(bytes, 0.0)));
}
EMSCRIPTEN_KEEPALIVE double rzt2_largest_picture() {
  return static_cast<double>(rzt2::PixelsWithinBudget(rzt2::MemoryBudget::Process().Limit()));
}

EMSCRIPTEN_KEEPALIVE const char* rzt2_status_text(int status) {
  return rzt2::StatusText(static_cast<rzt2::Status>(status));
}

// Starts job id (see web_job.h); null when it started, else why the
// request describes no job.
EMSCRIPTEN_KEEPALIVE char* rzt2_start_job(int id, const char* request) {
  rzt2::WebJob job;
  const nlohmann::json parsed = nlohmann::json::parse(request, nullptr, false);
  std::optional<std::string> error;
  try {
    error = rzt2::ParseJobRequest(parsed, job);
  } catch (const nlohmann::json::exception& wrong) {
    error = wrong.what();
  }
  if (error) return Copy(*error);
  try {
    rzt2::StartWebJob(id, std::move(job));
  } catch (const std::exception& failed) {  // no thread could be started
    return Copy(failed.what());
  }
  return nullptr;
}

EMSCRIPTEN_KEEPALIVE void rzt2_cancel_job(int id) { rzt2::CancelWebJob(id); }

EMSCRIPTEN_KEEPALIVE char* rzt2_info(const char* path, const char* name) {
  return Copy(rzt2::MapInfoJson(path, name));
}

EMSCRIPTEN_KEEPALIVE char* rzt2_check(const char* path, const char* name) {
  return Copy(rzt2::MapCheckJson(path, name));
}

// A view's number, or 0 and the status of the failed open in *status.
EMSCRIPTEN_KEEPALIVE int rzt2_map_open(const char* path, int* status) {
  rzt2::Status opened = rzt2::Status::Ok;
  const int view = rzt2::OpenMapView(path, opened);
  *status = static_cast<int>(opened);
  return view;
}

EMSCRIPTEN_KEEPALIVE void rzt2_map_close(int view) { rzt2::CloseMapView(view); }

EMSCRIPTEN_KEEPALIVE char* rzt2_map_levels(int view) { return Copy(rzt2::MapViewLevels(view)); }

// 0 with the width and height in size[0..1] and the RGBA bytes in *pixels
// (the caller frees them), else the status.
EMSCRIPTEN_KEEPALIVE int rzt2_map_preview(int view, uint32_t* size, uint8_t** pixels) {
  rzt2::RgbaPicture picture;
  return GivePicture(rzt2::MapViewPreview(view, picture), picture, size, pixels);
}

EMSCRIPTEN_KEEPALIVE int rzt2_map_frame(int view, uint32_t level, uint32_t column, uint32_t row,
                                        uint32_t* size, uint8_t** pixels) {
  rzt2::RgbaPicture picture;
  return GivePicture(rzt2::MapViewFrame(view, level, column, row, picture), picture, size, pixels);
}

}  // extern "C"
