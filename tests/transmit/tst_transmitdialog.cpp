#include "testsymbols.h"
#include "transmitdialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

namespace {

// The dialog's widgets, found by their object names.
struct Fields
{
    explicit Fields(TransmitDialog &d)
        : symbol(d.findChild<QComboBox *>("symbolCombo")),
          id(d.findChild<QLineEdit *>("idEdit")),
          extended(d.findChild<QCheckBox *>("extendedCheck")),
          rtr(d.findChild<QCheckBox *>("rtrCheck")),
          dlc(d.findChild<QSpinBox *>("dlcSpin")),
          cycle(d.findChild<QSpinBox *>("cycleSpin")),
          activate(d.findChild<QCheckBox *>("activateCheck")),
          comment(d.findChild<QLineEdit *>("commentEdit")),
          group(d.findChild<QGroupBox *>("signalGroup")),
          table(d.findChild<QTableWidget *>("signalTable")),
          error(d.findChild<QLabel *>("errorLabel"))
    {
        for (int i = 0; i < 8; ++i)
            bytes[i] = d.findChild<QLineEdit *>(QStringLiteral("byteEdit%1").arg(i));
    }

    bool complete() const
    {
        for (QLineEdit *b : bytes)
            if (!b)
                return false;
        return symbol && id && extended && rtr && dlc && cycle && activate && comment && group
            && table && error;
    }

    QString byteTexts() const
    {
        QStringList texts;
        for (QLineEdit *b : bytes)
            texts.append(b->text());
        return texts.join(QLatin1Char(' '));
    }

    // What the user's choice in the symbol list does.
    void chooseSymbol(const QString &name)
    {
        const int item = symbol->findText(name, Qt::MatchStartsWith);
        QVERIFY2(item > 0, qPrintable(name));
        symbol->setCurrentIndex(item);
        emit symbol->activated(item);
    }

    void typeId(const QString &text)
    {
        id->selectAll();
        QTest::keyClicks(id, text);
    }

    QComboBox *symbol;
    QLineEdit *id;
    QCheckBox *extended;
    QCheckBox *rtr;
    QSpinBox *dlc;
    QSpinBox *cycle;
    QCheckBox *activate;
    QLineEdit *comment;
    QGroupBox *group;
    QTableWidget *table;
    QLabel *error;
    QLineEdit *bytes[8] = {};
};

} // namespace

class TestTransmitDialog : public QObject
{
    Q_OBJECT

private slots:
    void withoutSymbolsOnlyRawFields();
    void typingAnIdentifierRecognisesTheSymbol();
    void choosingASymbolWritesItsDefaultFrame();
    void choosingASymbolTakesItsCycleTime_data();
    void choosingASymbolTakesItsCycleTime();
    void byteFieldsMoveOnAndTakePastedHex_data();
    void byteFieldsMoveOnAndTakePastedHex();
    void signalValuesWriteTheBytes();
    void enumerationValuesAreChosenFromAList();
    void enumerationEntryWritesItsRawValue();
    void enumerationWithoutAnEntryForTheValue();
    void templateCommentFollowsTheSymbol_data();
    void templateCommentFollowsTheSymbol();
    void longCycleSurvivesAnEdit();
    void rejectedSignalValueChangesNothing();
    void validationNamesTheIdentifierProblem_data();
    void validationNamesTheIdentifierProblem();
    void acceptStaysOpenOnInvalidIdentifier();
    void lengthAndRemoteRequestDisableFields();
    void manualCycleNeverActivates();
    void editingKeepsCountAndDueTime();
};

void TestTransmitDialog::withoutSymbolsOnlyRawFields()
{
    TransmitDialog dialog(nullptr);
    Fields f(dialog);
    QVERIFY(f.complete());
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Sendenachricht"));
    QCOMPARE(f.symbol->count(), 1);
    QCOMPARE(f.symbol->itemText(0), QStringLiteral("(kein Symbol – Rohdaten)"));
    QVERIFY(!f.symbol->isEnabled());
    QCOMPARE(f.symbol->toolTip(), QStringLiteral("Keine Symboldatei geladen"));
    QVERIFY(!f.group->isVisible());
    QVERIFY(f.error->isHidden());
    QCOMPARE(f.dlc->value(), 8);
    QCOMPARE(f.cycle->text(), QStringLiteral("manuell (0)"));

    f.typeId(QStringLiteral("100"));
    f.bytes[0]->selectAll();
    QTest::keyClicks(f.bytes[0], QStringLiteral("ab"));
    QCOMPARE(f.symbol->currentIndex(), 0);
    QCOMPARE(f.comment->text(), QString());
    const TxMessage m = dialog.message();
    QCOMPARE(m.frame.id, quint32(0x100));
    QCOMPARE(m.frame.data[0], quint8(0xAB));
    QCOMPARE(m.frame.dlc, quint8(8));

    // The validators keep non-hexadecimal text out.
    QTest::keyClicks(f.id, QStringLiteral("xz"));
    QCOMPARE(f.id->text(), QStringLiteral("100"));
}

void TestTransmitDialog::typingAnIdentifierRecognisesTheSymbol()
{
    TransmitDialog dialog(TestSymbols::database());
    Fields f(dialog);
    dialog.show();
    QVERIFY(f.group->isVisible());
    QCOMPARE(f.symbol->count(), 3);
    QCOMPARE(f.symbol->itemText(1), QStringLiteral("Bremse   (18FEF100h)"));
    QCOMPARE(f.symbol->itemText(2), QStringLiteral("Motor   (100h)"));

    f.bytes[3]->selectAll();
    QTest::keyClicks(f.bytes[3], QStringLiteral("FF"));
    f.typeId(QStringLiteral("100"));
    QCOMPARE(f.symbol->currentText(), QStringLiteral("Motor   (100h)"));
    QCOMPARE(f.group->title(), QStringLiteral("Signale – Motor"));
    QCOMPARE(f.table->rowCount(), 3);
    QCOMPARE(f.table->item(0, 0)->text(), QStringLiteral("Drehzahl"));
    QCOMPARE(f.table->item(0, 0)->toolTip(), QStringLiteral("16 Bit, unsigned"));
    QCOMPARE(f.table->item(1, 0)->toolTip(), QStringLiteral("8 Bit, unsigned, Enum Modi"));
    QCOMPARE(f.table->item(2, 0)->toolTip(), QStringLiteral("8 Bit, signed"));
    QVERIFY(!(f.table->item(0, 0)->flags() & Qt::ItemIsEditable));
    QVERIFY(f.table->item(0, 1)->flags() & Qt::ItemIsEditable);
    QCOMPARE(f.table->item(0, 2)->text(), QStringLiteral("rpm"));
    QVERIFY(!(f.table->item(0, 2)->flags() & (Qt::ItemIsEditable | Qt::ItemIsSelectable)));
    QCOMPARE(f.table->item(2, 1)->text(), QStringLiteral("-1"));
    QCOMPARE(f.table->item(2, 3)->text(), QStringLiteral("-1"));
    QCOMPARE(f.byteTexts(), QStringLiteral("00 00 00 FF 00 00 00 00"));
    QCOMPARE(f.comment->text(), QString());   // recognising is not choosing

    // Raw edits of a recognised symbol refresh its values.
    f.bytes[0]->selectAll();
    QTest::keyClicks(f.bytes[0], QStringLiteral("10"));
    QCOMPARE(f.table->item(0, 1)->text(), QStringLiteral("16"));

    QTest::keyClicks(f.id, QStringLiteral("1"));   // 1001h: no symbol
    QCOMPARE(f.symbol->currentIndex(), 0);
    QCOMPARE(f.table->rowCount(), 0);
    QCOMPARE(f.group->title(), QStringLiteral("Signale"));

    // The extended flag is part of the identity.
    f.typeId(QStringLiteral("18FEF100"));
    QCOMPARE(f.symbol->currentIndex(), 0);
    f.extended->click();
    QCOMPARE(f.symbol->currentText(), QStringLiteral("Bremse   (18FEF100h)"));
    QCOMPARE(f.table->rowCount(), 1);
}

void TestTransmitDialog::choosingASymbolWritesItsDefaultFrame()
{
    TransmitDialog dialog(TestSymbols::database());
    Fields f(dialog);
    dialog.show();
    f.bytes[7]->selectAll();
    QTest::keyClicks(f.bytes[7], QStringLiteral("77"));

    f.chooseSymbol(QStringLiteral("Bremse"));
    QCOMPARE(f.id->text(), QStringLiteral("18FEF100"));
    QVERIFY(f.extended->isChecked());
    QCOMPARE(f.dlc->value(), 2);
    QCOMPARE(f.byteTexts(), QStringLiteral("05 00 00 00 00 00 00 00"));
    QCOMPARE(f.comment->text(), QStringLiteral("Bremse"));
    QCOMPARE(f.table->rowCount(), 1);
    QCOMPARE(f.table->item(0, 1)->text(), QStringLiteral("5"));
    QVERIFY(!f.bytes[2]->isEnabled());

    f.chooseSymbol(QStringLiteral("Motor"));
    QCOMPARE(f.id->text(), QStringLiteral("100"));
    QVERIFY(!f.extended->isChecked());
    QCOMPARE(f.dlc->value(), 8);
    QVERIFY(f.bytes[2]->isEnabled());
    QCOMPARE(f.comment->text(), QStringLiteral("Motor"));   // the name follows the symbol

    // Back to raw data: the fields stay as they are, the symbol's name goes.
    f.symbol->setCurrentIndex(0);
    emit f.symbol->activated(0);
    QCOMPARE(f.id->text(), QStringLiteral("100"));
    QCOMPARE(f.table->rowCount(), 0);
    QCOMPARE(f.comment->text(), QString());

    // A comment of the user's own stays whatever is chosen.
    f.comment->setText(QStringLiteral("Prüfstand"));
    f.chooseSymbol(QStringLiteral("Bremse"));
    QCOMPARE(f.comment->text(), QStringLiteral("Prüfstand"));
    f.symbol->setCurrentIndex(0);
    emit f.symbol->activated(0);
    QCOMPARE(f.comment->text(), QStringLiteral("Prüfstand"));
}

void TestTransmitDialog::choosingASymbolTakesItsCycleTime_data()
{
    QTest::addColumn<QByteArray>("dbc");   // empty: the in-memory symbols, Bremse with 100 ms
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<int>("cycle");        // after the choice; 250 was set before
    QTest::newRow("symbol with a cycle") << QByteArray() << "Bremse" << 100;
    QTest::newRow("symbol without") << QByteArray() << "Motor" << 250;
    const QByteArray dbc = "VERSION \"\"\n\nBU_: ECU\n\n"
                           "BO_ 256 Takt: 8 ECU\n SG_ A : 0|8@1+ (1,0) [0|255] \"\" Vector__XXX\n\n"
                           "BO_ 512 Ohne: 8 ECU\n SG_ B : 0|8@1+ (1,0) [0|255] \"\" Vector__XXX\n\n"
                           "BA_DEF_ BO_ \"GenMsgCycleTime\" INT 0 65535;\n"
                           "BA_DEF_DEF_ \"GenMsgCycleTime\" 0;\n"
                           "BA_ \"GenMsgCycleTime\" BO_ 256 20;\n";
    QTest::newRow("DBC GenMsgCycleTime") << dbc << "Takt" << 20;
    QTest::newRow("DBC default 0") << dbc << "Ohne" << 250;
}

void TestTransmitDialog::choosingASymbolTakesItsCycleTime()
{
    QFETCH(QByteArray, dbc);
    QFETCH(QString, symbol);
    QFETCH(int, cycle);
    std::shared_ptr<const SymbolDatabase> db;
    if (dbc.isEmpty()) {
        auto withCycle = std::make_shared<SymbolDatabase>(*TestSymbols::database());
        withCycle->messages[1].cycleTime = 100;
        db = withCycle;
    } else {
        auto loaded = std::make_shared<SymbolDatabase>();
        QString error;
        QVERIFY2(loaded->loadData(dbc, QStringLiteral("takt.dbc"), &error), qPrintable(error));
        db = loaded;
    }
    TransmitDialog dialog(db);
    Fields f(dialog);
    f.cycle->setValue(250);
    f.chooseSymbol(symbol);
    QCOMPARE(f.cycle->value(), cycle);
}

void TestTransmitDialog::byteFieldsMoveOnAndTakePastedHex_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("dlc");
    QTest::addColumn<QString>("typed");     // typed key by key
    QTest::addColumn<QString>("pasted");    // then pasted with Ctrl+V
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<int>("dlcAfter");
    QTest::addColumn<int>("focused");       // the byte field with the focus afterwards
    QTest::newRow("two digits move on") << 0 << 8 << "1f" << "" << "1F 00 00 00 00 00 00 00" << 8 << 1;
    QTest::newRow("digits run through the fields") << 1 << 8 << "a1b2c" << "" << "00 A1 B2 C 00 00 00 00" << 8 << 3;
    QTest::newRow("one digit stays") << 0 << 8 << "7" << "" << "7 00 00 00 00 00 00 00" << 8 << 0;
    QTest::newRow("last field stays") << 7 << 8 << "ee" << "" << "00 00 00 00 00 00 00 EE" << 8 << 7;
    QTest::newRow("blank is no digit") << 0 << 8 << "1 " << "" << "1 00 00 00 00 00 00 00" << 8 << 0;
    QTest::newRow("pasted with blanks") << 0 << 8 << "" << "11 22 33 44" << "11 22 33 44 00 00 00 00" << 8 << 4;
    QTest::newRow("pasted in one piece") << 2 << 8 << "" << "aabbcc" << "00 00 AA BB CC 00 00 00" << 8 << 5;
    QTest::newRow("pasted with colons") << 0 << 8 << "" << "de:ad:be:ef" << "DE AD BE EF 00 00 00 00" << 8 << 4;
    QTest::newRow("single digits") << 0 << 8 << "" << "1 2 3" << "01 02 03 00 00 00 00 00" << 8 << 3;
    QTest::newRow("longer than the frame") << 0 << 2 << "" << "01 02 03" << "01 02 03 00 00 00 00 00" << 3 << 2;
    QTest::newRow("beyond byte 7 is dropped") << 6 << 8 << "" << "01 02 03 04" << "00 00 00 00 00 00 01 02" << 8 << 7;
}

void TestTransmitDialog::byteFieldsMoveOnAndTakePastedHex()
{
    QFETCH(int, field);
    QFETCH(int, dlc);
    QFETCH(QString, typed);
    QFETCH(QString, pasted);
    QFETCH(QString, bytes);
    QFETCH(int, dlcAfter);
    QFETCH(int, focused);
    TransmitDialog dialog(TestSymbols::database());
    Fields f(dialog);
    TxMessage start;
    start.frame.id = 0x100;
    start.frame.dlc = quint8(dlc);
    dialog.setMessage(start);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    f.bytes[field]->setFocus();
    f.bytes[field]->selectAll();   // as a click or Tab into the field leaves it
    for (QChar key : typed)   // each key to where the focus is then
        QTest::keyClicks(QApplication::focusWidget(), QString(key));
    if (!pasted.isEmpty()) {
        QApplication::clipboard()->setText(pasted);
        QTest::keySequence(f.bytes[field], QKeySequence::Paste);
    }
    QCOMPARE(f.byteTexts(), bytes);
    QCOMPARE(f.dlc->value(), dlcAfter);
    QCOMPARE(QApplication::focusWidget(), f.bytes[focused]);
    // The signal table follows the bytes as with any raw edit.
    const CanFrame frame = dialog.message().frame;
    QCOMPARE(f.table->item(0, 1)->text(), QString::number(frame.data[0] | frame.data[1] << 8));
}

void TestTransmitDialog::templateCommentFollowsTheSymbol_data()
{
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("afterRaw");
    QTest::addColumn<QString>("afterIdentifier");
    QTest::addColumn<QString>("afterBremse");
    // A new message made from the selected row carries the row's comment.
    QTest::newRow("symbol name") << "Motor" << "" << "" << "Bremse";
    QTest::newRow("own text") << "Lüfter an" << "Lüfter an" << "Lüfter an" << "Lüfter an";
    QTest::newRow("empty") << "" << "" << "" << "Bremse";
}

void TestTransmitDialog::templateCommentFollowsTheSymbol()
{
    QFETCH(QString, comment);
    QFETCH(QString, afterRaw);
    QFETCH(QString, afterIdentifier);
    QFETCH(QString, afterBremse);
    TxMessage m;
    m.frame.id = 0x100;
    m.frame.dlc = 8;
    m.comment = comment;
    {
        TransmitDialog dialog(TestSymbols::database());
        Fields f(dialog);
        dialog.show();
        dialog.setMessage(m);
        f.symbol->setCurrentIndex(0);
        emit f.symbol->activated(0);
        QCOMPARE(f.comment->text(), afterRaw);
    }
    {
        TransmitDialog dialog(TestSymbols::database());
        Fields f(dialog);
        dialog.show();
        dialog.setMessage(m);
        f.typeId(QStringLiteral("123"));   // no symbol
        QCOMPARE(f.comment->text(), afterIdentifier);
        QCOMPARE(dialog.message().comment, afterIdentifier);
    }
    {
        TransmitDialog dialog(TestSymbols::database());
        Fields f(dialog);
        dialog.show();
        dialog.setMessage(m);
        f.chooseSymbol(QStringLiteral("Bremse"));
        QCOMPARE(f.comment->text(), afterBremse);
    }
}

void TestTransmitDialog::signalValuesWriteTheBytes()
{
    TransmitDialog dialog(TestSymbols::database());
    Fields f(dialog);
    dialog.show();
    f.chooseSymbol(QStringLiteral("Motor"));

    f.table->item(0, 1)->setText(QStringLiteral("4660"));
    QCOMPARE(f.byteTexts(), QStringLiteral("34 12 00 00 00 00 00 00"));
    QCOMPARE(f.table->item(0, 3)->text(), QStringLiteral("4660"));
    f.table->item(2, 1)->setText(QStringLiteral("-2"));
    QCOMPARE(f.bytes[3]->text(), QStringLiteral("FE"));
    QCOMPARE(dialog.message().frame.data[3], quint8(0xFE));

    // A signal beyond the frame's length raises it.
    f.dlc->setValue(2);
    QVERIFY(!f.bytes[3]->isEnabled());
    f.table->item(2, 1)->setText(QStringLiteral("10"));
    QCOMPARE(f.dlc->value(), 4);
    QCOMPARE(f.bytes[3]->text(), QStringLiteral("0A"));
    QVERIFY(f.bytes[3]->isEnabled());
    QVERIFY(f.error->isHidden());
}

void TestTransmitDialog::enumerationValuesAreChosenFromAList()
{
    TransmitDialog dialog(TestSymbols::database());
    Fields f(dialog);
    dialog.show();
    f.chooseSymbol(QStringLiteral("Motor"));
    auto *combo = qobject_cast<QComboBox *>(f.table->cellWidget(1, 1));
    QVERIFY(combo);
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->itemText(1), QStringLiteral("Ein  (1)"));
    QCOMPARE(combo->currentIndex(), 0);

    combo->setCurrentIndex(2);
    emit combo->activated(2);
    QCOMPARE(f.bytes[2]->text(), QStringLiteral("02"));

    f.bytes[2]->selectAll();
    QTest::keyClicks(f.bytes[2], QStringLiteral("01"));
    QCOMPARE(combo->currentIndex(), 1);
    f.bytes[2]->selectAll();
    QTest::keyClicks(f.bytes[2], QStringLiteral("09"));   // no such entry: still shown
    QCOMPARE(combo->count(), 4);
    QCOMPARE(combo->currentText(), QStringLiteral("9"));
    f.bytes[2]->selectAll();
    QTest::keyClicks(f.bytes[2], QStringLiteral("00"));
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->currentText(), QStringLiteral("Aus  (0)"));
}

void TestTransmitDialog::enumerationWithoutAnEntryForTheValue()
{
    // As "Bewegung" of the example file: entries from 192 on, a new frame holds 0.
    auto db = std::make_shared<SymbolDatabase>(*TestSymbols::database());
    SymEnum &modi = db->enums[QStringLiteral("MODI")];
    modi.values.clear();
    modi.values.insert(192, QStringLiteral("Stillstand"));
    modi.values.insert(196, QStringLiteral("Aufwärts"));
    SymEnumRange range;
    range.low = 10;
    range.high = 19;
    range.text = QStringLiteral("Prüfung");
    modi.ranges.append(range);
    TransmitDialog dialog(db);
    Fields f(dialog);
    dialog.show();
    f.chooseSymbol(QStringLiteral("Motor"));
    auto *combo = qobject_cast<QComboBox *>(f.table->cellWidget(1, 1));
    QVERIFY(combo);
    QCOMPARE(combo->currentText(), QStringLiteral("0"));
    QCOMPARE(combo->count(), 3);
    // A value of a range shows the range's text.
    f.bytes[2]->selectAll();
    QTest::keyClicks(f.bytes[2], QStringLiteral("0C"));
    QCOMPARE(combo->currentText(), QStringLiteral("Prüfung  (12)"));
    QCOMPARE(combo->count(), 3);
    // Choosing an entry removes the stand-in item and writes the value.
    const int stillstand = combo->findText(QStringLiteral("Stillstand  (192)"));
    QVERIFY(stillstand > 0);
    combo->setCurrentIndex(stillstand);
    emit combo->activated(stillstand);
    QCOMPARE(f.bytes[2]->text(), QStringLiteral("C0"));
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->currentText(), QStringLiteral("Stillstand  (192)"));
}

void TestTransmitDialog::enumerationEntryWritesItsRawValue()
{
    // Scaled and limited: the entry's number is a raw value, never a physical one.
    auto db = std::make_shared<SymbolDatabase>(*TestSymbols::database());
    SymVariable &mode = db->messages[0].variables[1];
    mode.factor = 0.5;
    mode.offset = 3;
    mode.hasMax = true;
    mode.maximum = 1;
    TransmitDialog dialog(db);
    Fields f(dialog);
    dialog.show();
    TxMessage m;
    m.frame.id = 0x100;
    m.frame.dlc = 2;   // the enumeration lies in byte 2: choosing it lengthens the frame
    dialog.setMessage(m);
    auto *combo = qobject_cast<QComboBox *>(f.table->cellWidget(1, 1));
    QVERIFY(combo);
    combo->setCurrentIndex(2);
    emit combo->activated(2);
    QVERIFY(!f.error->isVisible());
    QCOMPARE(f.bytes[2]->text(), QStringLiteral("02"));
    QCOMPARE(f.dlc->value(), 3);
    QCOMPARE(combo->currentIndex(), 2);
    QCOMPARE(f.table->item(1, 3)->text(), QStringLiteral("2"));
}

void TestTransmitDialog::longCycleSurvivesAnEdit()
{
    TransmitDialog dialog(nullptr);
    Fields f(dialog);
    TxMessage m;
    m.frame.id = 0x123;
    m.cycleMs = 2147483647;
    m.active = true;
    dialog.setMessage(m);
    f.comment->setText(QStringLiteral("nur der Kommentar"));
    QCOMPARE(dialog.message().cycleMs, 2147483647);
    QVERIFY(dialog.message().active);
}

void TestTransmitDialog::rejectedSignalValueChangesNothing()
{
    TransmitDialog dialog(TestSymbols::database());
    Fields f(dialog);
    dialog.show();
    f.chooseSymbol(QStringLiteral("Motor"));
    f.table->item(2, 1)->setText(QStringLiteral("50"));
    QCOMPARE(f.bytes[3]->text(), QStringLiteral("32"));

    f.table->item(2, 1)->setText(QStringLiteral("90 Grad"));
    QVERIFY(f.error->isVisible());
    QVERIFY2(f.error->text().contains(QStringLiteral("Temp")), qPrintable(f.error->text()));
    QCOMPARE(f.bytes[3]->text(), QStringLiteral("32"));
    QCOMPARE(f.table->item(2, 1)->text(), QStringLiteral("50"));

    f.table->item(2, 1)->setText(QStringLiteral("120"));   // above the maximum of 100
    QVERIFY(f.error->isVisible());
    QCOMPARE(f.bytes[3]->text(), QStringLiteral("32"));
    QCOMPARE(f.table->item(2, 1)->text(), QStringLiteral("50"));

    f.table->item(2, 1)->setText(QStringLiteral("20"));
    QVERIFY(f.error->isHidden());
    QCOMPARE(f.bytes[3]->text(), QStringLiteral("14"));
}

void TestTransmitDialog::validationNamesTheIdentifierProblem_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<QString>("error");
    const QString invalid = QStringLiteral("Bitte eine gültige hexadezimale ID eingeben.");
    const QString extended = QStringLiteral("Extended-IDs (29 bit) dürfen höchstens 1FFFFFFFh sein.");
    const QString standard = QStringLiteral(
        "Standard-IDs (11 bit) dürfen höchstens 7FFh sein. Für größere IDs \"Extended\" aktivieren.");
    QTest::newRow("123 standard") << "123" << false << QString();
    QTest::newRow("7FF standard") << "7ff" << false << QString();
    QTest::newRow("800 standard") << "800" << false << standard;
    QTest::newRow("800 extended") << "800" << true << QString();
    QTest::newRow("1FFFFFFF extended") << "1FFFFFFF" << true << QString();
    QTest::newRow("20000000 extended") << "20000000" << true << extended;
    QTest::newRow("FFFFFFFF standard") << "FFFFFFFF" << false << standard;
    QTest::newRow("empty") << "" << false << invalid;
}

void TestTransmitDialog::validationNamesTheIdentifierProblem()
{
    QFETCH(QString, id);
    QFETCH(bool, extended);
    QFETCH(QString, error);
    TransmitDialog dialog(nullptr);
    Fields f(dialog);
    f.id->setText(id);
    f.extended->setChecked(extended);
    QString message;
    QCOMPARE(dialog.validate(&message), error.isEmpty());
    QCOMPARE(message, error);
}

void TestTransmitDialog::acceptStaysOpenOnInvalidIdentifier()
{
    TransmitDialog dialog(nullptr);
    Fields f(dialog);
    dialog.show();
    f.typeId(QStringLiteral("800"));
    dialog.accept();
    QVERIFY(dialog.isVisible());
    QVERIFY(f.error->isVisible());
    QVERIFY(f.error->text().startsWith(QStringLiteral("Standard-IDs")));

    // The message follows the input: another fault replaces it, a valid
    // identifier (typed, or made valid by "Extended") removes it.
    f.id->selectAll();
    QTest::keyClick(f.id, Qt::Key_Backspace);
    QCOMPARE(f.error->text(), QStringLiteral("Bitte eine gültige hexadezimale ID eingeben."));
    f.typeId(QStringLiteral("7FF"));
    QVERIFY(!f.error->isVisible());
    f.typeId(QStringLiteral("800"));
    QVERIFY(!f.error->isVisible());   // nothing shown until the next accept
    dialog.accept();
    QVERIFY(f.error->isVisible());
    f.extended->setChecked(true);
    QVERIFY(!f.error->isVisible());
    f.extended->setChecked(false);
    f.typeId(QStringLiteral("7FF"));
    dialog.accept();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestTransmitDialog::lengthAndRemoteRequestDisableFields()
{
    TransmitDialog dialog(TestSymbols::database());
    Fields f(dialog);
    dialog.show();
    TxMessage m;
    m.frame.id = 0x100;
    m.frame.dlc = 3;
    for (int i = 0; i < 8; ++i)
        m.frame.data[i] = quint8(0x11 * (i + 1));
    dialog.setMessage(m);
    QCOMPARE(f.byteTexts(), QStringLiteral("11 22 33 44 55 66 77 88"));
    for (int i = 0; i < 8; ++i)
        QCOMPARE(f.bytes[i]->isEnabled(), i < 3);
    const TxMessage read = dialog.message();
    QCOMPARE(read.frame.dlc, quint8(3));
    QCOMPARE(read.frame.data[7], quint8(0x88));   // disabled bytes are still read
    QCOMPARE(f.symbol->currentText(), QStringLiteral("Motor   (100h)"));

    f.rtr->click();
    for (int i = 0; i < 8; ++i)
        QVERIFY(!f.bytes[i]->isEnabled());
    QVERIFY(!f.table->isEnabled());
    QVERIFY(dialog.message().frame.rtr);
    f.rtr->click();
    QVERIFY(f.table->isEnabled());
    QVERIFY(f.bytes[2]->isEnabled());
}

void TestTransmitDialog::manualCycleNeverActivates()
{
    TransmitDialog dialog(nullptr);
    Fields f(dialog);
    TxMessage m;
    m.frame.id = 0x10;
    m.cycleMs = 100;
    m.active = true;
    dialog.setMessage(m);
    QVERIFY(f.activate->isEnabled());
    QVERIFY(f.activate->isChecked());
    QVERIFY(dialog.message().active);

    f.cycle->setValue(0);
    QVERIFY(!f.activate->isEnabled());
    QVERIFY(f.activate->isChecked());
    QVERIFY(!dialog.message().active);
    QCOMPARE(dialog.message().cycleMs, 0);
}

void TestTransmitDialog::editingKeepsCountAndDueTime()
{
    TransmitDialog dialog(TestSymbols::database());
    Fields f(dialog);
    dialog.show();
    TxMessage m;
    m.frame.id = 0x18FEF100;
    m.frame.extended = true;
    m.frame.dlc = 2;
    m.cycleMs = 50;
    m.count = 1234;
    m.nextDueMs = 987;
    m.comment = QStringLiteral("alt");
    dialog.setMessage(m);
    QCOMPARE(f.symbol->currentText(), QStringLiteral("Bremse   (18FEF100h)"));
    QCOMPARE(f.cycle->value(), 50);

    f.table->item(0, 1)->setText(QStringLiteral("7"));
    f.comment->setText(QStringLiteral("neu"));
    const TxMessage edited = dialog.message();
    QCOMPARE(edited.frame.data[0], quint8(7));
    QCOMPARE(edited.comment, QStringLiteral("neu"));
    QCOMPARE(edited.count, quint64(1234));
    QCOMPARE(edited.nextDueMs, qint64(987));
}

QTEST_MAIN(TestTransmitDialog)
#include "tst_transmitdialog.moc"
