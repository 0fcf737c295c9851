// What a worker (the detection pass, the batch) may do to the main view's
// source list. The view implements it; each call runs on the user-interface
// thread and returns once that thread has carried it out.
#pragma once

#include "engine/settings/ConversionSettings.h"

#include <string>

namespace plexavo::media {
class SourceItem;
}

namespace plexavo::convert {

class EncodeJob;

class ISourceList {
  public:
    virtual ~ISourceList() = default;

    virtual int rowCount() = 0;
    // The index in the item array of the row's item.
    virtual int rowTag(int row) = 0;
    // The item at an index of the array (nullptr for a removed row's slot).
    virtual media::SourceItem* itemAt(int index) = 0;
    // Takes ownership; returns the item's index in the array.
    virtual int appendItem(media::SourceItem* item) = 0;
    // Inserts a row after the last one; returns the row.
    virtual int insertRow(const std::string& text, int tag) = 0;
    virtual void refreshRow(int row) = 0;
    // A copy of the panel's settings, taken on the user-interface thread: the
    // controls own the real values and a worker must never write into them.
    virtual settings::ConversionSettings settings() = 0;
    // Shows a frame size that the batch decided on (the equalised size) back
    // in the panel's size edits.
    virtual void showFrameSize(const std::string& width, const std::string& height) = 0;
    virtual EncodeJob& job() = 0;
};

} // namespace plexavo::convert
