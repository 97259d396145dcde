#pragma once
// A main window with its messages recorded instead of shown.
#include "app/main_window.h"

#include <QDir>
#include <QFileSystemModel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTreeView>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// Index of the tab sheet that holds w (-1: none).
inline int sheetOf(QTabWidget* tabs, QWidget* w) {
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->widget(i)->isAncestorOf(w)) return i;
    return -1;
}

struct RecordedMessage {
    quenlith::TfrmTolvarin::MessageKind kind;
    QString text;
    QString detail;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override { makeWindow(); }

    void makeWindow() {
        window = std::make_unique<quenlith::TfrmTolvarin>();
        window->setMessageHandler([this](quenlith::TfrmTolvarin::MessageKind kind,
                                         const QString& text, const QString& detail) {
            messages.push_back({kind, text, detail});
        });
    }

    template <typename T> T* child(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // Selects a directory in the tree and double-clicks it.
    void assignDirectory(const QString& path) {
        auto* tree = child<QTreeView>("DirectoryTreeView1");
        auto* model = qobject_cast<QFileSystemModel*>(tree->model());
        ASSERT_NE(model, nullptr);
        const QModelIndex index = model->index(path);
        ASSERT_TRUE(index.isValid()) << path.toStdString();
        tree->setCurrentIndex(index);
        emit tree->doubleClicked(index);
    }

    // Presses a button and waits for the run it starts to end.
    bool pressRunAndWait(int timeoutMs = 120000) {
        QSignalSpy finished(window.get(), &quenlith::TfrmTolvarin::runFinished);
        child<QPushButton>("btnRunSimulation")->click();
        return finished.count() > 0 || finished.wait(timeoutMs);
    }

    bool lastMessageIs(quenlith::TfrmTolvarin::MessageKind kind, const QString& text) const {
        return !messages.empty() && messages.back().kind == kind && messages.back().text == text;
    }

    std::unique_ptr<quenlith::TfrmTolvarin> window;
    std::vector<RecordedMessage> messages;
};
