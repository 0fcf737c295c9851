// A stand-in for the main view in tests and trials: a window with a plain
// list that implements the source-list operations over an item array, as the
// view does (rows keep their item's index as tag; removing a row leaves an
// empty slot). It counts every operation that arrives on another thread than
// its own, so a test can prove that the workers marshal their calls.
#pragma once

#include "engine/convert/EncodeJob.h"
#include "engine/convert/SourceList.h"
#include "engine/media/SourceItem.h"
#include "engine/settings/ConversionSettings.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class QTreeWidget;

namespace plexavo::testing {

class TestSourceList : public QWidget, public convert::ISourceList {
    Q_OBJECT

  public:
    explicit TestSourceList(QWidget* parent = nullptr);
    ~TestSourceList() override;

    // ISourceList
    int rowCount() override;
    int rowTag(int row) override;
    media::SourceItem* itemAt(int index) override;
    int appendItem(media::SourceItem* item) override;
    int insertRow(const std::string& text, int tag) override;
    void refreshRow(int row) override;
    settings::ConversionSettings settings() override;
    void showFrameSize(const std::string& width, const std::string& height) override;
    convert::EncodeJob& job() override;

    // Test helpers (window thread).
    // An item with the given part, its row, and an output name in the
    // settings' folder; returns the row.
    int addItem(const std::string& path, std::uint32_t startSeconds, std::uint32_t endSeconds);
    // What the convert command does before it opens the batch window.
    void markAllWaiting();
    // Removes a row and deletes its item; the slot stays empty.
    void removeRow(int row);
    media::SourceItem* itemOfRow(int row);
    int statusOfRow(int row);
    std::vector<int> statuses();
    // The texts of a row as the list shows them.
    QString cellText(int row, int column) const;

    settings::ConversionSettings& editSettings() { return m_settings; }
    // Frame sizes the batch showed back, in order.
    const std::vector<std::pair<std::string, std::string>>& shownFrameSizes() const {
        return m_shownSizes;
    }
    // Operations that were called from another thread than the window's.
    int offThreadCalls() const { return m_offThread.load(); }
    // Every operation called so far.
    int calls() const { return m_calls.load(); }
    QTreeWidget* tree() const { return m_tree; }

  private:
    void note();

    QTreeWidget* m_tree = nullptr;
    std::vector<std::unique_ptr<media::SourceItem>> m_items;
    settings::ConversionSettings m_settings;
    convert::EncodeJob m_job;
    std::vector<std::pair<std::string, std::string>> m_shownSizes;
    std::atomic<int> m_offThread{0};
    std::atomic<int> m_calls{0};
};

} // namespace plexavo::testing
