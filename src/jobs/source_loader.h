// SourceLoader: the one way of loading the current picture, with a
// one-entry cache keyed by path. Map files (".rzt2" in any case) load as
// their preview or as the picture rebuilt from their 100 % level; any
// other file goes through the picture decoders, whatever its extension.
#pragma once

#include <string>

#include "imaging/image_handle.h"
#include "mapfile/map_file_reader.h"

namespace rzt2 {

// True when the text from the last "." of name equals ".rzt2" in any case.
bool HasMapFileExtension(const std::string& name);

class SourceLoader {
 public:
  // Does nothing when name is the name of the full picture already held.
  // Afterwards currentImage is the loaded picture or empty; currentImagePath
  // is name when a full picture was loaded, empty otherwise. The file is
  // name taken in the loader's folder. Picture files are decoded within
  // limits, with their halved copies built on copiesPool while decoding
  // when one is given (ImageHandle::FromFile); map files keep to their
  // readers' own. A picture decoded for a shown size (a preview)
  // may be reduced, so its path is not kept, as for a map file's preview.
  void LoadSource(const std::string& name, bool previewOnly, const DecodeLimits& limits = {},
                  ThreadPool* copiesPool = nullptr);

  ImageHandle& CurrentImage() { return currentImage_; }
  // The frames of a map file's picture that did not decode (white in it);
  // none for any other picture.
  const MapImageDamage& Damage() const { return damage_; }
  const std::string& CurrentImagePath() const { return currentImagePath_; }
  // Replaces the picture, keeping the path (a re-encoded map picture).
  void ReplaceImage(ImageHandle image) { currentImage_ = std::move(image); }
  // Forgets the path so that the next load reads the file again.
  void ForgetPath() { currentImagePath_.clear(); }
  // Drops the picture and the path.
  void Clear();
  // The folder that names are relative to; empty (the start) for the
  // process's current directory. Another folder drops the picture.
  void SetFolder(const std::string& folder);

 private:
  std::string folder_;
  ImageHandle currentImage_;
  MapImageDamage damage_;
  std::string currentImagePath_;
};

}  // namespace rzt2
