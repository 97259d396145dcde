// The demographic model on the Demographics sheet: its message as soon as it is named, the
// demes' table writing the samples, the file followed as it is saved, a run with it, and its
// picture saved in each format.
#include "app/model_view.h"
#include "demography/demes_reader.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSvgRenderer>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace quenlith;

namespace {

QString demesFile(const char* name) {
    return QString(QUENLITH_TEST_DATA) + "/demes/examples/" + name;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class ModelTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(work.isValid());
        dir = QDir(work.path()).canonicalPath();
        assignDirectory(dir);
        ASSERT_TRUE(QFile::copy(demesFile("gutenkunst_ooa.yaml"), dir + "/ooa.yaml"));
    }
    QString message() { return child<QLabel>("lblModelMessage")->text(); }
    QTableWidget* table() { return child<QTableWidget>("tblDemes"); }
    // Row of a deme in the table (-1: none).
    int row(const QString& name) {
        for (int r = 0; r < table()->rowCount(); ++r)
            if (table()->item(r, 0)->text() == name) return r;
        return -1;
    }
    void setCount(const QString& deme, const QString& count) {
        table()->item(row(deme), 3)->setText(count);
    }
    void load(const QString& file) {
        child<QCheckBox>("chkDemes")->setChecked(true);
        child<QLineEdit>("edtDemes")->setText(file);
    }
    QTemporaryDir work;
    QString dir;
};

} // namespace

TEST_F(ModelTest, MessageAndTableAsSoonAsTheModelIsNamed) {
    // Without the model: neither message nor table.
    EXPECT_TRUE(child<QLabel>("lblModelMessage")->isHidden());
    EXPECT_TRUE(table()->isHidden());

    load("ooa.yaml");
    EXPECT_EQ(message(), "6 demes, 8 migrations, 0 pulses"); // symmetric ones split in two
    EXPECT_FALSE(table()->isHidden());
    ASSERT_EQ(table()->rowCount(), 6);
    // Start in generations (years / 25), present size; only the demes of time 0 take samples.
    EXPECT_EQ(table()->item(row("ancestral"), 1)->text(), QString::fromUtf8("\u221E"));
    EXPECT_EQ(table()->item(row("AMH"), 1)->text(), "8800");
    EXPECT_EQ(table()->item(row("CEU"), 2)->text(), "29725");
    for (const char* name : {"ancestral", "AMH", "OOA"})
        EXPECT_FALSE(table()->item(row(name), 3)->flags() & Qt::ItemIsEditable) << name;
    for (const char* name : {"YRI", "CEU", "CHB"})
        EXPECT_TRUE(table()->item(row(name), 3)->flags() & Qt::ItemIsEditable) << name;

    // Refusals: the reader's own message, naming the field; a missing file with its path.
    ASSERT_TRUE(writeFile(dir + "/bad.yaml", "time_units: generations\ndemes:\n  - name: X\n"
                                             "    epochs:\n      - {start_size: -5}\n"));
    load("bad.yaml");
    std::string expected;
    try {
        demes::readModelFile((dir + "/bad.yaml").toStdString());
    } catch (const demes::DemesError& e) {
        expected = e.what();
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(message().toStdString(), expected);
    EXPECT_TRUE(message().contains("start_size"));
    EXPECT_EQ(table()->rowCount(), 0);
    load("none.yaml");
    EXPECT_TRUE(message().startsWith(dir + "/none.yaml: ")) << message().toStdString();

    // Unticked, the message goes.
    child<QCheckBox>("chkDemes")->setChecked(false);
    EXPECT_TRUE(child<QLabel>("lblModelMessage")->isHidden());
    EXPECT_TRUE(messages.empty());
}

TEST_F(ModelTest, TableAndSamplesTextWriteEachOther) {
    load("ooa.yaml");
    auto* samples = child<QLineEdit>("edtSamples");
    setCount("YRI", "4");
    EXPECT_EQ(samples->text(), "YRI:4");
    setCount("CHB", "3");
    EXPECT_EQ(samples->text(), "YRI:4,CHB:3");
    setCount("YRI", "6");
    EXPECT_EQ(samples->text(), "YRI:6,CHB:3");
    setCount("YRI", "");
    EXPECT_EQ(samples->text(), "CHB:3");
    // An entry the model lacks stays when another deme's count is edited.
    samples->setText("CEU:2, Mars:5");
    EXPECT_EQ(table()->item(row("CEU"), 3)->text(), "2");
    EXPECT_TRUE(table()->item(row("CHB"), 3)->text().isEmpty());
    setCount("CEU", "0");
    EXPECT_EQ(samples->text(), "Mars:5");
    setCount("YRI", "2");
    setCount("CEU", "2");
    EXPECT_EQ(samples->text(), "Mars:5,YRI:2,CEU:2");
    samples->setText("YRI:2,CEU:2");

    // The run with the model from the table.
    EXPECT_EQ(child<QComboBox>("cmbRandom")->currentIndex(), 1); // ticking chose streams
    window->setFixedSeed(5u);
    ASSERT_TRUE(pressRunAndWait());
    EXPECT_TRUE(messages.empty()) << messages.back().text.toStdString();
    EXPECT_EQ(child<QLabel>("lblRunStatus")->text(), "Completed 1 of 1 simulations");
    EXPECT_TRUE(readAll(dir + "/" + QString::fromStdString(FormValues{}.edtTmrca)).size() > 0);
}

TEST_F(ModelTest, FileFollowedAsSavedAndChosenByBrowsing) {
    load("ooa.yaml");
    ModelPanel* panel = window->modelPanel();
    EXPECT_EQ(panel->model()->demes.size(), 6u);
    EXPECT_TRUE(panel->pictureWindow()->view()->hasModel());
    // Saved again with two demes and a pulse: the message, table and picture follow.
    ASSERT_TRUE(writeFile(dir + "/ooa.yaml",
                          "time_units: generations\ndemes:\n  - name: P\n    epochs:\n"
                          "      - {start_size: 100}\n  - name: Q\n    epochs:\n"
                          "      - {start_size: 200}\npulses:\n"
                          "  - {sources: [P], dest: Q, time: 10, proportions: [0.5]}\n"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return message() == "2 demes, 0 migrations, 1 pulse"; }, 10000))
        << message().toStdString();
    EXPECT_EQ(table()->rowCount(), 2);
    EXPECT_EQ(panel->pictureWindow()->view()->drawing().bands.size(), 2u);

    // Browsing: a file of the working directory by its name, another by its absolute path.
    QString chosen = dir + "/ooa.yaml";
    panel->setFileChooser([&chosen] { return chosen; });
    child<QCheckBox>("chkDemes")->setChecked(false);
    child<QPushButton>("btnDemesBrowse")->click();
    EXPECT_TRUE(child<QCheckBox>("chkDemes")->isChecked());
    EXPECT_EQ(child<QLineEdit>("edtDemes")->text(), "ooa.yaml");
    chosen = demesFile("zigzag.yaml");
    child<QPushButton>("btnDemesBrowse")->click();
    EXPECT_EQ(child<QLineEdit>("edtDemes")->text(), chosen);
    EXPECT_TRUE(message().startsWith("1 deme, 0 migrations")) << message().toStdString();
    EXPECT_EQ(window->formValues().edtDemes, chosen.toStdString());
}

TEST_F(ModelTest, PictureSavedAsPngSvgAndPdf) {
    load("ooa.yaml");
    child<QPushButton>("btnModelPicture")->click();
    ModelWindow* picture = window->modelPanel()->pictureWindow();
    EXPECT_TRUE(picture->isVisible());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(picture));
    const QSize size = picture->view()->size();
    QString name;
    picture->setSaveNameChooser([&name] { return name; });
    auto save = [&](const char* file) {
        name = dir + "/" + file;
        picture->findChild<QPushButton*>("btnSaveModelPicture")->click();
        return readAll(name);
    };
    EXPECT_TRUE(save("model.png").startsWith("\x89PNG"));
    const QImage png(name, "PNG");
    EXPECT_EQ(png.size(), size);
    // The bands are coloured: the first deme's colour is in the picture.
    bool coloured = false;
    for (int y = 0; y < png.height() && !coloured; y += 2)
        for (int x = 0; x < png.width() && !coloured; x += 2)
            coloured = QColor(png.pixel(x, y)).hsvSaturation() > 80;
    EXPECT_TRUE(coloured);
    save("model.svg");
    QSvgRenderer svg(name);
    ASSERT_TRUE(svg.isValid());
    EXPECT_EQ(svg.viewBox().size(), size);
    const QByteArray pdf = save("model.pdf");
    EXPECT_TRUE(pdf.startsWith("%PDF-"));
    EXPECT_TRUE(messages.empty());
    name = dir + "/missing/model.png";
    picture->findChild<QPushButton*>("btnSaveModelPicture")->click();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().detail, name);
}
