#pragma once
// The demographic model in the window: the model file read as soon as it is chosen or edited
// (and again whenever it is saved), its message under the file's field, the table of its
// demes that writes the samples, and the "Model" window with its picture.
#include "app/model_drawing.h"
#include "demography/demes_model.h"
#include "genealogy/structured_genealogy.h"

#include <QDateTime>
#include <QDialog>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QCheckBox;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QPainter;
class QPushButton;
class QTableWidget;

namespace quenlith {

// Paints a model drawing at its own pixel size.
void paintModelDrawing(const ModelDrawing& drawing, QPainter& painter);

// Shows the picture of a model, drawn for the widget's size.
class ModelView : public QWidget {
  public:
    explicit ModelView(QWidget* parent = nullptr);
    void setModel(std::optional<demes::Model> model);
    bool hasModel() const { return model_.has_value(); }
    // The drawing at the widget's size.
    ModelDrawing drawing() const;
    QSize sizeHint() const override { return {720, 540}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::optional<demes::Model> model_;
};

// The "Model" window: the picture, the model's message and a button that saves the picture.
class ModelWindow : public QDialog {
    Q_OBJECT
  public:
    using SaveNameChooser = std::function<QString()>;
    explicit ModelWindow(QWidget* parent = nullptr);
    ModelView* view() const { return view_; }
    void setModel(std::optional<demes::Model> model, const QString& message);
    // Writes the picture at the view's size as PNG, SVG or PDF (by the name's extension;
    // PNG for another). Throws RunError when the file cannot be written.
    void savePicture(const QString& path) const;
    void setSaveNameChooser(SaveNameChooser chooser) { chooser_ = std::move(chooser); }

  signals:
    void saveFailed(const QString& text, const QString& detail);

  private:
    void save();
    ModelView* view_ = nullptr;
    QLabel* message_ = nullptr;
    QPushButton* save_ = nullptr;
    SaveNameChooser chooser_;
};

// Reads the model named by the file field (relative to the working directory, or absolute)
// while the model's check box is ticked, keeps the message label, the demes' table and the
// picture in step with it and with the samples' field.
class ModelPanel : public QObject {
    Q_OBJECT
  public:
    using FileChooser = std::function<QString()>;
    ModelPanel(QCheckBox* use, QLineEdit* file, QLineEdit* samples, QLineEdit* ploidy,
               QLabel* message, QTableWidget* table, std::function<QString()> workDir,
               QWidget* window);

    // Reads the model again (the file, the working directory or the ploidy changed).
    void reload();
    // The model as last read (none when unticked or refused).
    const std::optional<demes::Model>& model() const { return model_; }
    QString path() const { return path_; }
    // Chooses a model file (a file dialog unless a chooser is set) and ticks the model.
    void browse();
    // Opens the "Model" window.
    void showPicture();
    ModelWindow* pictureWindow() const { return picture_; }
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

  private:
    void fillTable();
    void tableEdited(int row);
    void samplesEdited();
    void watch();

    QCheckBox* use_;
    QLineEdit* file_;
    QLineEdit* samples_;
    QLineEdit* ploidy_;
    QLabel* message_;
    QTableWidget* table_;
    std::function<QString()> workDir_;
    QWidget* window_;
    ModelWindow* picture_ = nullptr;
    QFileSystemWatcher* watcher_ = nullptr;
    FileChooser chooser_;
    std::optional<demes::Model> model_;
    DiscreteHistory history_; // of the model: which demes exist at generation 0
    QString path_;
    // The file as last read: whether it existed, its time and size.
    bool stampExists_ = false;
    QDateTime stampTime_;
    qint64 stampSize_ = -1;
    bool syncing_ = false;
};

} // namespace quenlith
