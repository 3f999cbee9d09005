// The picture-format choice of the two dialogs that read a folder of pictures: bitmaps
// by default, or PNG files, as jovtool's --format.

#include <QComboBox>
#include <QDir>
#include <QImage>

#include "dialogs/addpic.h"
#include "dialogs/newlib.h"
#include "uitest.h"

namespace {

using FormatChoiceTest = ViewerTest;

TEST_F(FormatChoiceTest, FolderDialogsTakeTheFilesOfTheChosenFormat) {
  const QString in = dir.filePath(QStringLiteral("in"));
  ASSERT_TRUE(QDir().mkpath(in));
  QImage picture(8, 4, QImage::Format_RGB32);
  picture.fill(Qt::red);
  for (const char* name : {"a.bmp", "b.BMP", "c.png", "d.png", "e.PNG"}) {
    const QString path = in + QLatin1Char('/') + QLatin1String(name);
    ASSERT_TRUE(picture.save(path, path.endsWith("png", Qt::CaseInsensitive) ? "PNG" : "BMP"));
  }
  LibraryBuilder one(0);
  one.Add8(4, 4, 0, 0, Solid(4, 4, 1));
  Open(one);
  const Controls import{Dialog<TFormadd>()}, create{Dialog<TFormnew>()};
  for (const Controls& ui : {import, create}) {
    auto* choice = Child<QComboBox>(ui.window, "ComboFormat");
    EXPECT_EQ(choice->currentText(), QStringLiteral("Bitmaps (*.bmp)"));
    EXPECT_EQ(choice->itemText(1), QStringLiteral("PNG (*.png)"));
  }
  // Placement files are text whatever the pictures: X/Y has no choice to make.
  import.Button("Rabtnxy")->click();
  EXPECT_FALSE(Child<QComboBox>(import.window, "ComboFormat")->isEnabled());
  import.Button("RabtnAll")->click();
  import.Button("RabtnAdd")->click();

  const struct { int choice, pictures; } cases[] = {{0, 2}, {1, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.choice);
    const int before = main->Jov().ImageCount();
    InsideModal(
        Dialog<TFormadd>(), [this] { main->btnallinput->click(); },
        [&] {
          Child<QComboBox>(import.window, "ComboFormat")->setCurrentIndex(c.choice);
          import.Edit("EditPicPath")->setText(in);
          import.Button("BtnImport")->click();
        });
    EXPECT_EQ(main->Jov().ImageCount(), before + c.pictures);

    const QString made = dir.filePath(QStringLiteral("made%1.jov").arg(c.choice));
    InsideModal(
        Dialog<TFormnew>(), [this] { main->btnCreateClick(); },
        [&] {
          Child<QComboBox>(create.window, "ComboFormat")->setCurrentIndex(c.choice);
          create.Edit("EditPicPath")->setText(in);
          create.Edit("EditFileName")->setText(made);
          create.Button("BtnCreate")->click();
        });
    TJOV jov;
    ASSERT_EQ(jov.Open(made), TOpenResult::Opened);
    EXPECT_EQ(jov.ImageCount(), c.pictures);
  }
}

}  // namespace
