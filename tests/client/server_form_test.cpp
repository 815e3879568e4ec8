// The server selection dialog: the list built from SERVERS.INI, the address
// taken from a clicked row, what OK, Cancel and the close box store.
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTimer>

#include "core/bitmap_button.hpp"
#include "dialog_fixture.hpp"
#include "dialogs/server_form.hpp"

namespace {

using dialogtest::DialogTest;
using lobby::TServerF;

class ServerDialog : public DialogTest {
 protected:
  TServerF* Create() { return Make(forms.ServerF); }

  // Creates the dialog while a modal box may come up, answering the box.
  TServerF* CreateAnsweringBoxes(std::vector<QString>* texts) {
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [texts] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        texts->push_back(box->text());
        box->accept();
      }
    });
    closer.start(5);
    return Create();
  }

  static std::vector<std::string> Rows(TServerF* dialog) {
    std::vector<std::string> rows;
    for (int i = 0; i < dialog->ServerList->count(); ++i) rows.push_back(dialog->ServerList->item(i)->text().toStdString());
    return rows;
  }

  void ClickRow(TServerF* dialog, int row) {
    QListWidget* list = dialog->ServerList;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
  }
};

TEST_F(ServerDialog, RowsLineUpInColumnsAndSkipMissingEntries) {
  drives.Write("SERVERS.INI",
               "[QORServers]\nServerCount=3\nCurrentServer=192.168.0.9\n"
               "Server1=10.0.0.1\nName1=Alpha\nLocation1=Oslo\n"
               "Name2=no address, no row\n"
               "Server3=lobby.example.net\nName3=Main hall\n");
  TServerF* dialog = Create();
  EXPECT_EQ(Rows(dialog), (std::vector<std::string>{
                              "10.0.0.1" + std::string(9, ' ') + "Alpha" + std::string(15, ' ') + "Oslo",
                              // 17 characters: no blank before the name.
                              "lobby.example.netMain hall" + std::string(11, ' ')}));
  // The first row is selected, but the field shows the stored address.
  EXPECT_EQ(dialog->ServerList->currentRow(), 0);
  EXPECT_TRUE(dialog->ServerList->item(0)->isSelected());
  EXPECT_EQ(dialog->tServer->text(), "192.168.0.9");
}

TEST_F(ServerDialog, AClickedRowGivesItsTextBeforeTheFirstBlank) {
  drives.Write("SERVERS.INI",
               "[QORServers]\nServerCount=3\n"
               "Server1=10.0.0.1\nName1=Alpha\nLocation1=Oslo\n"
               "Server2=lobby.example.net\nName2=Main hall\n"
               "Server3=no-blank-anywhere-in\nName3=this-row-at-all-long\n");
  TServerF* dialog = Create();
  Activate(dialog);
  EXPECT_EQ(dialog->tServer->text(), "127.0.0.1") << "no CurrentServer: the built-in address";

  ClickRow(dialog, 1);
  EXPECT_EQ(dialog->tServer->text(), "lobby.example.netMain");
  ClickRow(dialog, 0);
  EXPECT_EQ(dialog->tServer->text(), "10.0.0.1") << "a click on a row already selected copies as well";
  ClickRow(dialog, 2);
  EXPECT_EQ(dialog->tServer->text(), "10.0.0.1") << "a row without a blank changes nothing";
}

TEST_F(ServerDialog, OkStoresTheFieldAsTypedAndReturnsToTheMainWindow) {
  drives.Write("SERVERS.INI", "; kept\n[QORServers]\nVersion=4\nCurrentServer=10.0.0.1\nServerCount=0\n");
  TServerF* dialog = Create();
  Activate(dialog);
  ClearLog();
  dialog->tServer->setText("  not; an=address ");
  dialog->bOk->click();
  EXPECT_EQ(drives.Read("SERVERS.INI"),
            "; kept\n[QORServers]\nVersion=4\nCurrentServer=  not; an=address \nServerCount=0\n");
  EXPECT_EQ(lobby::Values().CurrentState, lobby::State::stRegister);
  EXPECT_EQ(Log(), (std::vector<std::string>{"Show(TTest)", "Hide(TOpen)"}));
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(ServerDialog, OkWithoutAFileCreatesOneWithOnlyTheCurrentServer) {
  TServerF* dialog = Create();
  EXPECT_EQ(dialog->ServerList->count(), 0);
  EXPECT_EQ(dialog->tServer->text(), "127.0.0.1");
  dialog->bOk->click();
  EXPECT_EQ(drives.Read("SERVERS.INI"), "[QORServers]\nCurrentServer=127.0.0.1\n");
}

TEST_F(ServerDialog, DoubleClickStoresTheAddressTheClickCopied) {
  drives.Write("SERVERS.INI", "[QORServers]\nServerCount=2\nServer1=10.0.0.1\nServer2=10.0.0.2\n");
  TServerF* dialog = Create();
  Activate(dialog);
  dialog->tServer->setText("typed");
  QListWidget* list = dialog->ServerList;
  // A double click begins with a click.
  const QPoint row = list->visualItemRect(list->item(1)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row);
  EXPECT_NE(drives.Read("SERVERS.INI").find("CurrentServer=10.0.0.2\n"), std::string::npos)
      << drives.Read("SERVERS.INI");
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(lobby::Values().CurrentState, lobby::State::stRegister);
}

TEST_F(ServerDialog, CancelAndTheCloseBoxStoreNothingButTheFieldKeepsTheClick) {
  const std::string file = "[QORServers]\nServerCount=2\nServer1=10.0.0.1\nServer2=10.0.0.2\nCurrentServer=10.0.0.1\n";
  drives.Write("SERVERS.INI", file);
  TServerF* dialog = Create();
  for (bool closeBox : {false, true}) {
    SCOPED_TRACE(closeBox ? "close box" : "Cancel");
    Activate(dialog);
    ClearLog();
    ClickRow(dialog, closeBox ? 0 : 1);
    if (closeBox)
      dialog->close();
    else
      dialog->bCancel->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(drives.Read("SERVERS.INI"), file);
    EXPECT_TRUE(Log().empty()) << "the state does not change";
    Activate(dialog);
    EXPECT_EQ(dialog->tServer->text(), closeBox ? "10.0.0.1" : "10.0.0.2");
    dialog->hide();
  }
}

TEST_F(ServerDialog, EnterPressesOkAndEscapePressesCancel) {
  TServerF* dialog = Create();
  Activate(dialog);
  dialog->tServer->setFocus();
  dialog->tServer->setText("10.1.1.1");
  QTest::keyClick(dialog->tServer, Qt::Key_Escape);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(drives.Exists("SERVERS.INI"));
  Activate(dialog);
  dialog->tServer->setFocus();
  QTest::keyClick(dialog->tServer, Qt::Key_Return);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(drives.Read("SERVERS.INI"), "[QORServers]\nCurrentServer=10.1.1.1\n");
}

TEST_F(ServerDialog, ACountThatIsNoDecimalNumberIsReportedAndTheRestSkipped) {
  for (const char* count : {"abc", "3x", "$1F", "0x1F", "99999999999", "1 2", "+"}) {
    SCOPED_TRACE(count);
    drives.Write("SERVERS.INI", std::string("[QORServers]\nServerCount=") + count +
                                    "\nServer1=10.0.0.1\nCurrentServer=10.0.0.9\n");
    std::vector<QString> boxes;
    TServerF* dialog = CreateAnsweringBoxes(&boxes);
    EXPECT_EQ(boxes, (std::vector<QString>{QString("'%1' is not a valid integer value").arg(count)}));
    EXPECT_EQ(dialog->ServerList->count(), 0);
    EXPECT_EQ(dialog->tServer->text(), "") << "the field is not filled either";
    // The program goes on: the dialog works.
    dialog->tServer->setText("10.0.0.5");
    dialog->bOk->click();
    EXPECT_NE(drives.Read("SERVERS.INI").find("CurrentServer=10.0.0.5\n"), std::string::npos);
  }
}

TEST_F(ServerDialog, SignedDecimalCountsAreNumbers) {
  const struct {
    const char* count;
    int rows;
  } cases[] = {{"+2", 2}, {"-1", 0}, {"0", 0}, {"  1  ", 1}, {"007", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    drives.Write("SERVERS.INI", std::string("[QORServers]\nServerCount=") + c.count +
                                    "\nServer1=10.0.0.1\nServer2=10.0.0.2\n");
    std::vector<QString> boxes;
    TServerF* dialog = CreateAnsweringBoxes(&boxes);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(dialog->ServerList->count(), c.rows);
  }
}

TEST_F(ServerDialog, AHugeCountListsThePresentEntriesOnly) {
  // Written by the agent from a server's lines: a count no loop should run
  // up to.
  drives.Write("SERVERS.INI",
               "[QORServers]\nServerCount=2147483647\nServer1=10.0.0.1\n  server2000000000 = far.example.net\n"
               "Server05=spelt with a zero\n[Other]\nServer7=elsewhere\n");
  TServerF* dialog = Create();
  EXPECT_EQ(Rows(dialog), (std::vector<std::string>{"10.0.0.1" + std::string(29, ' '),
                                                    "far.example.net" + std::string(22, ' ')}));
}

TEST_F(ServerDialog, ValuesAreCutAfterTheir79thCharacter) {
  const std::string longAddress(85, 'a');
  const std::string longCurrent = std::string(80, 'c') + "tail";
  drives.Write("SERVERS.INI", "[QORServers]\nServerCount=1\nServer1=" + longAddress + "\nName1=N\nCurrentServer=" +
                                  longCurrent + "\n");
  TServerF* dialog = Create();
  ASSERT_EQ(dialog->ServerList->count(), 1);
  EXPECT_EQ(Rows(dialog)[0], std::string(79, 'a') + "N");
  EXPECT_EQ(dialog->tServer->text().toStdString(), std::string(79, 'c'));
}

TEST_F(ServerDialog, TheListShowsFixedPitchRowsFifteenPixelsHigh) {
  drives.Write("SERVERS.INI",
               "[QORServers]\nServerCount=2\nServer1=1.1.1.1\nName1=iiiii\nServer2=200.200.200.200\nName2=WWWWW\n");
  TServerF* dialog = Create();
  Activate(dialog);
  const QFont font = dialog->ServerList->font();
  EXPECT_TRUE(QFontInfo(font).fixedPitch()) << QFontInfo(font).family().toStdString();
  EXPECT_EQ(font.pixelSize(), 12);
  // The names start at the same x in both rows.
  const QFontMetrics metrics(font);
  const QString first = dialog->ServerList->item(0)->text(), second = dialog->ServerList->item(1)->text();
  EXPECT_EQ(metrics.horizontalAdvance(first.left(17)), metrics.horizontalAdvance(second.left(17)));
  EXPECT_EQ(metrics.horizontalAdvance(first), metrics.horizontalAdvance(second.left(first.size())));
  EXPECT_EQ(dialog->ServerList->visualItemRect(dialog->ServerList->item(0)).height(), 15);
}

TEST(ServerRows, AddressesAreTheTextBeforeTheFirstBlank) {
  EXPECT_EQ(lobby::AddressOfRow("1.2.3.4 x"), "1.2.3.4");
  EXPECT_EQ(lobby::AddressOfRow(" leading"), "");
  EXPECT_EQ(lobby::AddressOfRow("none"), std::nullopt);
  EXPECT_EQ(lobby::ServerRow(std::string(40, 'a'), "n", "l"), std::string(40, 'a') + "nl");
}

}  // namespace
