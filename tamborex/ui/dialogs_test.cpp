#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "arp_options.h"
#include "axis_options.h"
#include "axis_shape_panel.h"
#include "dialog_fit.h"
#include "global_options.h"
#include "joy_options.h"
#include "sysex_editor.h"
#include "tamborex/engine/engine.h"
#include "tamborex/model/controller_names.h"
#include "test_bar.h"

namespace {

using Strings = std::vector<std::string>;

void Choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// Replaces a field's text as one edit by the user.
void Type(QLineEdit* field, const QString& text) {
    field->setText(text);
    emit field->textEdited(text);
}

class DialogsTest : public BarTest {
  protected:
    CJoyOptions& OpenEdit() {
        Equip();
        Start();
        Edit();
        return *bar->JoyOptions();
    }
    void Edit() { QTest::mouseClick(bar->BarButton(0).Window(), Qt::LeftButton, {}, {5, 5}); }
    CPatch& Patch() { return bar->Session().Engine().patches[0]; }
    template <typename T>
    T* In(const char* name) {
        return Find<T>(bar->JoyOptions(), name);
    }
    // Buttons 1 to 8 are rows 0 to 7.
    template <typename T>
    T* Row(const char* column, int row) {
        return Find<T>(bar->JoyOptions(), (std::string(column) + std::to_string(row)).c_str());
    }
    // Reads the stick with axis X pushed all the way.
    std::int32_t FullX() {
        stick.SetAxis(AXIS_X, 32767);
        bar->Session().Joystick().Poll();
        return bar->Session().Joystick().state.axes[AXIS_X];
    }
};

TEST_F(DialogsTest, ButtonRowsFollowTheModeAndReopeningShowsTheNewPatchUnchanged) {
    CJoyOptions& options = OpenEdit();
    ASSERT_TRUE(options.IsOpen());
    EXPECT_EQ(options.windowTitle(), QStringLiteral("Joystick options"));
    EXPECT_EQ(Row<QComboBox>("modeCombo", 0)->count(), 22);
    EXPECT_EQ(In<QComboBox>("axisCombo0")->count(), 130);
    const struct {
        int mode;
        bool data1, data2, arp;
    } rows[] = {{MODE_NOTE, true, true, false},           {MODE_ARPEGGIATOR, false, false, true},
                {MODE_SUSTAIN, false, false, false},      {MODE_PROGRAM_CHANGE, true, false, false},
                {MODE_SYSEX, true, false, false},         {MODE_SONG_SELECT, true, false, false},
                {MODE_SONG_POSITION, true, false, false}, {MODE_PATCH_CHANGE, true, false, false}};
    for (int b = 0; b < 8; ++b) {
        Choose(Row<QComboBox>("modeCombo", b), rows[b].mode);
        EXPECT_EQ(Patch().buttons[b].mode, rows[b].mode);
        EXPECT_EQ(Row<QLineEdit>("data1Edit", b)->isEnabled(), rows[b].data1) << b;
        EXPECT_EQ(Row<QLineEdit>("data2Edit", b)->isEnabled(), rows[b].data2) << b;
        EXPECT_EQ(Row<QPushButton>("arpButton", b)->isEnabled(), rows[b].arp) << b;
    }
    EXPECT_TRUE(bar->Session().PatchModified());
    // A new note row plays middle C clearly, not note 0 at velocity 0 (a note off); a note
    // already chosen keeps it.
    EXPECT_EQ(Row<QLineEdit>("data1Edit", 0)->text(), QStringLiteral("60"));
    EXPECT_EQ(Row<QLineEdit>("data2Edit", 0)->text(), QStringLiteral("100"));
    Row<QLineEdit>("data1Edit", 1)->setText(QStringLiteral("72"));
    Choose(Row<QComboBox>("modeCombo", 1), MODE_NOTE);
    In<QPushButton>("applyButton")->click();
    EXPECT_EQ(Patch().buttons[1].data1, 72);
    EXPECT_EQ(Patch().buttons[1].data2, 100);
    EXPECT_EQ(Patch().buttons[0].data2, 100);
    Choose(Row<QComboBox>("modeCombo", 1), MODE_ARPEGGIATOR);

    // Entry 1 holds a patch whose button 1 arpeggiates.
    const std::string file = (dir / "arp.txp").string();
    Patch().buttons[0].mode = MODE_ARPEGGIATOR;
    ASSERT_TRUE(bar->Session().SavePatchFile(file));
    CSessionTestAccess::Bank(bar->Session()).patchPaths[1] = file;
    Patch().buttons[0].mode = MODE_NONE;
    In<QPushButton>("okButton")->click();
    EXPECT_FALSE(options.IsOpen());
    QTest::mouseClick(Find<QWidget>(bar.get(), "next"), Qt::LeftButton);
    Edit();
    EXPECT_EQ(Row<QComboBox>("modeCombo", 0)->currentIndex(), MODE_ARPEGGIATOR);
    EXPECT_TRUE(Row<QPushButton>("arpButton", 0)->isEnabled());
    EXPECT_FALSE(Row<QLineEdit>("data1Edit", 0)->isEnabled());
    EXPECT_EQ(Patch().buttons[0].mode, MODE_ARPEGGIATOR);
    EXPECT_FALSE(bar->Session().PatchModified());  // loading a patch is no edit
}

TEST_F(DialogsTest, LoadingAFileWhileTheDialogIsOpenShowsTheLoadedPatch) {
    CJoyOptions& options = OpenEdit();
    Patch().buttons[0].data1 = 77;
    prompter.chosenFile = (dir / "loaded.txp").string();
    ASSERT_TRUE(bar->Session().SavePatchFile(prompter.chosenFile));
    Patch().buttons[0].data1 = 5;
    options.RefreshFromPatch();
    QTest::mouseClick(bar->BarButton(2).Window(), Qt::LeftButton, {}, {5, 5});  // "Load"
    EXPECT_EQ(Row<QLineEdit>("data1Edit", 0)->text(), QStringLiteral("77"));
    options.Apply();
    EXPECT_EQ(Patch().buttons[0].data1, 77);
}

TEST_F(DialogsTest, AnOutOfRangeNumberBlocksApplyAndOkAndEscapeApplies) {
    CJoyOptions& options = OpenEdit();
    Type(Row<QLineEdit>("data2Edit", 0), QStringLiteral("99"));
    Type(Row<QLineEdit>("data1Edit", 0), QStringLiteral("200"));
    prompter.warnings.clear();
    In<QPushButton>("applyButton")->click();
    EXPECT_EQ(prompter.warnings, (Strings{"Please enter an integer between 0 and 127."}));
    EXPECT_EQ(Patch().buttons[0].data1, 0);
    EXPECT_EQ(Patch().buttons[0].data2, 0);  // nothing written, not even the good field
    In<QPushButton>("okButton")->click();
    EXPECT_EQ(prompter.warnings.size(), 2u);
    EXPECT_TRUE(options.IsOpen());
    EXPECT_TRUE(options.isVisible());

    Type(Row<QLineEdit>("data1Edit", 0), QStringLiteral("64"));
    Type(Row<QLineEdit>("chanEdit", 7), QStringLiteral("x"));
    In<QPushButton>("applyButton")->click();
    EXPECT_EQ(prompter.warnings.back(), "Please enter an integer.");
    Type(Row<QLineEdit>("chanEdit", 7), QStringLiteral("15"));
    QTest::keyClick(&options, Qt::Key_Escape);
    EXPECT_EQ(Patch().buttons[0].data1, 64);
    EXPECT_EQ(Patch().buttons[0].data2, 99);
    EXPECT_EQ(Patch().buttons[7].channel, 15);
    EXPECT_TRUE(options.isVisible());
    // A typed number that changed the patch is an edit: Quit offers to save it.
    EXPECT_TRUE(bar->Session().PatchModified());
}

TEST_F(DialogsTest, PollTimeActiveAndOutputPortTakeEffectAtOnce) {
    OpenEdit();
    Choose(In<QComboBox>("pollCombo"), 9);  // "200ms"
    EXPECT_EQ(Patch().pollIntervalCode, 9);
    EXPECT_TRUE(bar->Session().Engine().PollTimer().Running());
    EXPECT_EQ(bar->Session().Engine().PollTimer().PeriodMs(), 200u);

    In<QCheckBox>("activeCheck")->click();
    EXPECT_EQ(Patch().active, 1);
    EXPECT_EQ(bar->Session().Joystick().active, 1);
    In<QCheckBox>("activeCheck")->click();
    EXPECT_EQ(Patch().active, 0);
    EXPECT_FALSE(bar->Session().Engine().PollTimer().Running());

    Choose(In<QComboBox>("outputCombo"), 1);
    EXPECT_EQ(Patch().outputDevice, 1);
    midi.FailNext(platform::FakeMidiService::Call::OpenOutput, platform::MidiResult::Allocated);
    prompter.warnings.clear();
    Choose(In<QComboBox>("outputCombo"), 0);
    EXPECT_EQ(prompter.warnings, (Strings{"SelOutPort: CMIDI Error:MIDI port already allocated."}));
    EXPECT_EQ(In<QComboBox>("outputCombo")->currentIndex(), -1);
    EXPECT_EQ(Patch().outputDevice, 1);
    EXPECT_TRUE(bar->Session().PatchModified());
}

TEST_F(DialogsTest, AxisOptionsShowNrpnFieldsOnlyForTheNrpnControllers) {
    Equip();
    Start();
    AxisRecord record;
    for (std::int32_t selection : {kSelectNrpnFine, kSelectNrpnCoarse, kSelectNone}) {
        record.controller = selection;
        CAxisOptions dialog(record, AXIS_X, QStringLiteral("X Axis"), bar->Session().Joystick(),
                            prompter, nullptr);
        const bool nrpn = selection != kSelectNone;
        EXPECT_EQ(Find<QLabel>(&dialog, "nrpnCaption")->text(),
                  nrpn ? QStringLiteral("NRPN message") : QStringLiteral("(Unused)"));
        EXPECT_EQ(Find<QLabel>(&dialog, "nrpn1Label")->text(),
                  nrpn ? QStringLiteral("NRPN MSB : ") : QStringLiteral("data 1 : "));
        EXPECT_EQ(Find<QLabel>(&dialog, "nrpn2Label")->text(),
                  nrpn ? QStringLiteral("NRPN LSB : ") : QStringLiteral("data 2 : "));
        EXPECT_EQ(Find<QLineEdit>(&dialog, "nrpn2Edit")->isEnabled(), nrpn);
        EXPECT_EQ(
            Find<QLabel>(&dialog, "controllerText")->text(),
            nrpn ? QString::fromStdString(ControllerName(selection - 2)) : QStringLiteral("None"));
        EXPECT_FALSE(dialog.Changed());
    }
}

// The shaping part of Axis options: a preset reaches the engine at once (the stick is read at 16
// bits from then on), the graph draws only when the stick or the value sent moved, a drawn
// point follows the mouse, and "Calibrate" records the travel the stick is moved through.
TEST_F(DialogsTest, AxisOptionsShapeTheAxisLiveWithItsGraph) {
    Equip();
    Start();
    CEngine& engine = bar->Session().Engine();
    engine.SetPatchActive(0, 1);
    AxisRecord& record = engine.patches[0].axes[AXIS_X];
    record.controller = 9;
    CAxisOptions dialog(record, AXIS_X, QStringLiteral("X Axis"), bar->Session().Joystick(),
                        prompter, nullptr, &engine);
    ASSERT_NE(dialog.ShapePanel(), nullptr);
    CAxisShapePanel& panel = *dialog.ShapePanel();
    EXPECT_FALSE(dialog.Changed());
    EXPECT_EQ(FullX(), 127);  // unshaped: read in its range

    QComboBox* preset = Find<QComboBox>(&dialog, "shapePreset");
    preset->setCurrentIndex(1);
    emit preset->activated(1);  // "Soft centre"
    AxisShape expected;
    ApplyShapePreset(expected, ShapePreset::SoftCentre);
    EXPECT_EQ(record.shape, expected);
    EXPECT_TRUE(dialog.Changed());
    EXPECT_EQ(FullX(), kAxisRawMax);  // shaped: the engine scales it
    EXPECT_TRUE(Find<QCheckBox>(&dialog, "smoothingCheck")->isChecked());
    EXPECT_EQ(Find<QComboBox>(&dialog, "curveCombo")->currentIndex(), 4);

    dialog.show();
    CAxisCurveView& graph = panel.Graph();
    QCoreApplication::processEvents();
    panel.Sample();
    QCoreApplication::processEvents();
    const int drawn = graph.Repaints();
    for (int i = 0; i < 5; ++i) {
        panel.Sample();  // the stick at rest: nothing to draw
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(graph.Repaints(), drawn);
    stick.SetAxis(AXIS_X, -20000);
    engine.PollJoystick();
    panel.Sample();
    QCoreApplication::processEvents();
    EXPECT_GT(graph.Repaints(), drawn);
    // The picture in the README, when pictures are being taken.
    if (const QString folder = qEnvironmentVariable("TBX_SCREENSHOTS"); !folder.isEmpty()) {
        FitToScreen(dialog, Find<QScrollArea>(&dialog, "bodyScroll"));
        QCoreApplication::processEvents();
        dialog.grab().save(folder + QStringLiteral("/tamborex-axis-shaping.png"));
    }

    // Point 1 of the soft centre (0.3, 0.4) dragged up: it stays left of point 2.
    const QPointF from = graph.PointAt(1);
    QTest::mousePress(&graph, Qt::LeftButton, {}, from.toPoint());
    QMouseEvent move(QEvent::MouseMove, from + QPointF(0, -20), graph.mapToGlobal(from),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&graph, &move);
    QTest::mouseRelease(&graph, Qt::LeftButton, {}, (from + QPointF(0, -20)).toPoint());
    EXPECT_GT(record.shape.points[1].y, 0.4);
    EXPECT_LT(record.shape.points[1].x, record.shape.points[2].x);

    // Calibrate: the stick moved round and let go near the middle.
    QPushButton* calibrate = Find<QPushButton>(&dialog, "calibrateButton");
    calibrate->click();
    EXPECT_EQ(calibrate->text(), QStringLiteral("Done"));
    for (std::int16_t raw : {-30000, 30000, 500}) {
        stick.SetAxis(AXIS_X, raw);
        engine.PollJoystick();
    }
    calibrate->click();
    EXPECT_EQ(record.shape.calibration, (AxisCalibration{2768, 33268, 62768}));
    EXPECT_EQ(Find<QLabel>(&dialog, "calibrationText")->text(),
              QStringLiteral("2768 / 33268 / 62768"));
}

TEST_F(DialogsTest, AxisOptionsEditTheRecordAndTheStickRangeLive) {
    Equip();
    Start();
    bar->Session().Engine().SetPatchActive(0, 1);
    AxisRecord record;
    record.min = 20;
    record.max = 100;
    CAxisOptions dialog(record, AXIS_X, QStringLiteral("X Axis"), bar->Session().Joystick(),
                        prompter, nullptr);
    bool accepted = false;
    QObject::connect(&dialog, &QDialog::accepted, [&] { accepted = true; });

    Find<QRadioButton>(&dialog, "fullRadio")->click();
    EXPECT_EQ(record.fullRange, 1);
    EXPECT_EQ(FullX(), 127);
    EXPECT_EQ(record.min, 20);
    EXPECT_FALSE(Find<QLineEdit>(&dialog, "maxEdit")->isEnabled());
    EXPECT_TRUE(dialog.Changed());
    Find<QRadioButton>(&dialog, "partialRadio")->click();
    EXPECT_EQ(record.fullRange, 0);
    EXPECT_EQ(FullX(), 100);

    Type(Find<QLineEdit>(&dialog, "minEdit"), QStringLiteral("100"));
    Type(Find<QLineEdit>(&dialog, "maxEdit"), QStringLiteral("20"));
    Find<QPushButton>(&dialog, "okButton")->click();
    EXPECT_EQ(prompter.warnings, (Strings{"Axis range error: MIN > MAX"}));
    EXPECT_FALSE(accepted);
    EXPECT_EQ(record.min, 100);
    EXPECT_EQ(record.max, 20);

    Type(Find<QLineEdit>(&dialog, "maxEdit"), QString());
    EXPECT_EQ(prompter.warnings.back(), "Please enter an integer.");
    EXPECT_EQ(record.max, 20);
    // Values that go out as MIDI bytes keep their range: a channel of 16 would send a program
    // change, a Max of 200 another value.
    for (const auto& [field, text, message] :
         {std::tuple{"chanEdit", "16", "Please enter an integer between 0 and 15."},
          std::tuple{"maxEdit", "200", "Please enter an integer between 0 and 127."},
          std::tuple{"minEdit", "-1", "Please enter an integer between 0 and 127."}}) {
        Type(Find<QLineEdit>(&dialog, field), QString::fromLatin1(text));
        EXPECT_EQ(prompter.warnings.back(), message) << field;
        Find<QPushButton>(&dialog, "okButton")->click();
        EXPECT_FALSE(accepted) << field;
        Type(Find<QLineEdit>(&dialog, field), QStringLiteral("0"));
    }
    EXPECT_NE(record.channel, 16);
    Type(Find<QLineEdit>(&dialog, "minEdit"), QStringLiteral("20"));
    Type(Find<QLineEdit>(&dialog, "maxEdit"), QStringLiteral("120"));
    Type(Find<QLineEdit>(&dialog, "chanEdit"), QStringLiteral("9"));
    Find<QPushButton>(&dialog, "okButton")->click();
    EXPECT_TRUE(accepted);
    EXPECT_EQ(record.channel, 9);
    EXPECT_EQ(record.max, 120);
}

TEST_F(DialogsTest, GlobalOptionsChangeTheBarAtOnce) {
    Equip();
    CBankState state;
    state.patchNames[7] = "Seven";
    WriteBank(state);
    Start();
    CGlobalOptions dialog(bar->Session(), prompter, bar.get());
    EXPECT_EQ(Find<QComboBox>(&dialog, "presetCombo0")->itemText(7), QStringLiteral("007:Seven"));
    EXPECT_EQ(Find<QComboBox>(&dialog, "inPortCombo")->count(), 2);

    Choose(Find<QComboBox>(&dialog, "presetCombo1"), 5);
    EXPECT_EQ(CSessionTestAccess::Bank(bar->Session()).presets,
              (std::array<std::int32_t, 4>{0, 5, 2, 3}));
    const std::int32_t before = Patch().pollIntervalCode;
    Patch().pollIntervalCode = 7;  // a marker that a load would overwrite
    Choose(Find<QComboBox>(&dialog, "currentCombo"), 7);
    EXPECT_EQ(CSessionTestAccess::Bank(bar->Session()).patchNumber, 7);
    EXPECT_EQ(CSessionTestAccess::Bank(bar->Session()).patchName, "Seven");
    EXPECT_EQ(Patch().pollIntervalCode, 7);
    Patch().pollIntervalCode = before;

    Find<QCheckBox>(&dialog, "topCheck")->click();
    EXPECT_TRUE(bar->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    Type(Find<QLineEdit>(&dialog, "inChanEdit"), QStringLiteral("16"));
    EXPECT_EQ(prompter.warnings, (Strings{"Please enter an integer between 0 and 15."}));
    EXPECT_EQ(bar->Session().MidiInChannel(), 0);
    Find<QCheckBox>(&dialog, "thruCheck")->click();  // the bad channel stops the reading
    EXPECT_EQ(CSessionTestAccess::Bank(bar->Session()).midiThru, 0);
    Type(Find<QLineEdit>(&dialog, "inChanEdit"), QStringLiteral("15"));
    EXPECT_EQ(bar->Session().MidiInChannel(), 15);
    EXPECT_EQ(CSessionTestAccess::Bank(bar->Session()).midiThru,
              0);  // only its own click writes it
}

TEST_F(DialogsTest, GlobalOptionsWithoutInputsListNoneAndAFailedInputIsDropped) {
    Start();
    {
        CGlobalOptions dialog(bar->Session(), prompter, bar.get());
        EXPECT_EQ(Find<QComboBox>(&dialog, "inPortCombo")->count(), 0);
        EXPECT_EQ(Find<QComboBox>(&dialog, "inPortCombo")->currentIndex(), -1);
    }
    bar.reset();
    Equip();
    Start();
    CGlobalOptions dialog(bar->Session(), prompter, bar.get());
    midi.FailNext(platform::FakeMidiService::Call::OpenInput, platform::MidiResult::Allocated);
    Choose(Find<QComboBox>(&dialog, "inPortCombo"), 1);
    EXPECT_EQ(prompter.warnings.back(), "MIDIInSel: CMIDI Error:MIDI port already allocated.");
    EXPECT_EQ(CSessionTestAccess::Bank(bar->Session()).midiInDevice, -1);
    EXPECT_EQ(Find<QComboBox>(&dialog, "inPortCombo")->currentIndex(), -1);
}

TEST(ArpOptionsTest, StepsInUseAreEnabledAndOnlyOkWrites) {
    RecordingPrompter prompter;
    ButtonRecord record;
    record.stepCount = 3;
    record.notes[4] = 61;
    const ButtonRecord original = record;
    CArpOptions dialog(record, prompter, nullptr);
    const auto enabled = [&](const char* row, int step) {
        return dialog.findChild<QLineEdit*>(QStringLiteral("%1Edit%2").arg(row).arg(step))
            ->isEnabled();
    };
    for (int step = 0; step < 8; ++step) {
        EXPECT_EQ(enabled("note", step), step < 3);
        EXPECT_EQ(enabled("vel", step), step < 3);
        EXPECT_FALSE(enabled("time", step));
    }
    dialog.findChild<QCheckBox*>(QStringLiteral("autoCheck"))->click();
    EXPECT_TRUE(enabled("time", 2));
    dialog.findChild<QSpinBox*>(QStringLiteral("stepsSpin"))->setValue(5);
    EXPECT_TRUE(enabled("note", 4));
    EXPECT_TRUE(enabled("time", 4));
    EXPECT_FALSE(enabled("note", 5));
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("noteEdit4"))->text(),
              QStringLiteral("61"));  // disabled fields kept their values

    dialog.findChild<QLineEdit*>(QStringLiteral("velEdit1"))->setText(QStringLiteral("300"));
    dialog.accept();
    EXPECT_EQ(prompter.warnings, (Strings{"Please enter an integer between 0 and 127."}));
    dialog.findChild<QLineEdit*>(QStringLiteral("velEdit1"))->clear();
    dialog.accept();
    EXPECT_EQ(prompter.warnings.back(), "Please enter an integer.");
    dialog.reject();
    EXPECT_EQ(record.stepCount, original.stepCount);
    EXPECT_EQ(record.autoArpeggiation, original.autoArpeggiation);
    EXPECT_EQ(record.velocities, original.velocities);

    for (auto [stored, shown] : {std::pair{0, 1}, std::pair{12, 8}}) {
        record.stepCount = stored;
        CArpOptions limited(record, prompter, nullptr);
        EXPECT_EQ(limited.findChild<QSpinBox*>(QStringLiteral("stepsSpin"))->value(), shown);
        limited.accept();
        EXPECT_EQ(record.stepCount, shown);
    }
}

// With automatic arpeggiation the dialog says whether MIDI clock comes in to step it.
TEST(ArpOptionsTest, AutomaticArpeggiationSaysWhenItWaitsForClock) {
    RecordingPrompter prompter;
    ButtonRecord record;
    bool clock = false;
    CArpOptions dialog(record, prompter, nullptr, [&clock] { return clock; });
    dialog.show();
    auto* line = dialog.findChild<QLabel*>(QStringLiteral("clockLabel"));
    ASSERT_NE(line, nullptr);
    EXPECT_FALSE(line->isVisible());
    dialog.findChild<QCheckBox*>(QStringLiteral("autoCheck"))->click();
    EXPECT_TRUE(line->isVisible());
    EXPECT_TRUE(line->text().startsWith(QStringLiteral("waiting for MIDI clock")));
    clock = true;
    EXPECT_TRUE(WaitFor([&] { return line->text().startsWith(QStringLiteral("MIDI clock is")); }));
}

// The line above OK says why the patch is silent, and goes when it can play.
TEST_F(DialogsTest, JoystickOptionsSayWhyThePatchIsSilent) {
    OpenEdit();
    auto* line = In<QLabel>("playStateLabel");
    EXPECT_TRUE(line->isVisible());
    EXPECT_TRUE(line->text().contains(QStringLiteral("no MIDI output chosen")))
        << line->text().toStdString();
    EXPECT_TRUE(line->text().contains(QStringLiteral("patch inactive")));
    Choose(In<QComboBox>("outputCombo"), 1);
    EXPECT_FALSE(line->text().contains(QStringLiteral("no MIDI output chosen")));
    In<QCheckBox>("activeCheck")->click();
    EXPECT_FALSE(line->isVisible());
    stick.Unplug();
    EXPECT_TRUE(WaitFor([&] { return line->text().contains(QStringLiteral("no controller")); }));
    EXPECT_TRUE(line->isVisible());
}

TEST(SysExEditorTest, StoresAllFourOrNone) {
    RecordingPrompter prompter;
    CPatch patch;
    CPatch::SysExTable& table = *patch.sysEx;
    const CPatch::SysExTable original = table;
    CSysExEditor dialog(table, prompter, nullptr);
    const auto edit = [&](int k) {
        return dialog.findChild<QLineEdit*>(QStringLiteral("sysexEdit%1").arg(k));
    };
    EXPECT_EQ(edit(0)->text(), QStringLiteral("F0 F7"));
    edit(0)->setText(QStringLiteral("F0 41 10 F7"));
    edit(1)->setText(QStringLiteral("f0 7e 7f f7"));
    edit(2)->setText(QStringLiteral("F0 4G F7"));
    edit(3)->clear();
    dialog.accept();
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_NE(prompter.warnings[0].find('3'), std::string::npos) << prompter.warnings[0];
    EXPECT_EQ(table.lengths, original.lengths);
    EXPECT_EQ(table.buffers[0], original.buffers[0]);

    QString tooLong = QStringLiteral("F0");
    for (int i = 0; i < 256; ++i) {
        tooLong += QStringLiteral(" 01");
    }
    edit(2)->setText(tooLong);
    dialog.accept();
    EXPECT_EQ(prompter.warnings.size(), 2u);
    EXPECT_EQ(table.lengths, original.lengths);

    // A message the port would refuse on every press: one message, nothing stored.
    for (const char* text : {"41 42", "F0 41", "F0", "41 F7"}) {
        edit(2)->setText(QString::fromLatin1(text));
        prompter.warnings.clear();
        dialog.accept();
        ASSERT_EQ(prompter.warnings.size(), 1u) << text;
        EXPECT_EQ(prompter.warnings[0],
                  text[0] == '4' ? "SysEx message 3 must start with F0. Nothing was stored."
                                 : "SysEx message 3 must end with F7. Nothing was stored.");
        EXPECT_EQ(table.lengths, original.lengths);
    }
    prompter.warnings.resize(2);

    edit(2)->setText(QStringLiteral("F0 42 F7"));
    dialog.accept();
    EXPECT_EQ(prompter.warnings.size(), 2u);
    EXPECT_EQ(table.lengths, (std::array<std::int32_t, 4>{4, 4, 3, 0}));
    EXPECT_EQ(table.buffers[1][1], 0x7E);
    EXPECT_EQ(table.buffers[1][3], 0xF7);
}

TEST_F(DialogsTest, JoystickInfoAndResponseShowWhatThePollRead) {
    OpenEdit();
    std::string device, guid;
    prompter.run = [&](QDialog& dialog) {
        device = Find<QLineEdit>(&dialog, "deviceEdit")->text().toStdString();
        guid = Find<QLineEdit>(&dialog, "guidEdit")->text().toStdString();
        return 0;
    };
    In<QPushButton>("infoButton")->click();
    EXPECT_EQ(device, "Test Pad");
    EXPECT_EQ(guid, bar->Session().ControllerCaps().guid);
    EXPECT_FALSE(guid.empty());

    In<QPushButton>("viewButton")->click();
    In<QPushButton>("viewButton")->click();
    CJoyResponse& response = bar->JoyResponse();
    ASSERT_TRUE(response.IsShown());
    QAbstractButton* b3 = Find<QAbstractButton>(&response, "buttonBox2");
    In<QCheckBox>("activeCheck")->click();
    stick.SetButton(2, true);
    EXPECT_TRUE(WaitFor([&] { return b3->isChecked(); }));
    In<QCheckBox>("activeCheck")->click();
    stick.SetButton(2, false);
    QTest::qWait(3 * CJoyResponse::kRefreshMs);
    EXPECT_TRUE(b3->isChecked());  // inactive: the window keeps what it showed

    response.close();
    EXPECT_FALSE(response.IsShown());
    In<QPushButton>("viewButton")->click();
    EXPECT_TRUE(response.IsShown());
}

TEST_F(DialogsTest, TheControllerListFollowsPlugsAndAChoiceMarksThePatch) {
    OpenEdit();
    auto* list = In<QComboBox>("controllerCombo");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->currentText(), QStringLiteral("0: Test Pad"));
    stick.Unplug();
    EXPECT_TRUE(WaitFor([&] { return list->count() == 0; }));
    // The first line names the controller; the next says why nothing plays.
    EXPECT_EQ(bar->toolTip().section('\n', 0, 0), QStringLiteral("Tamborex: Test Pad is missing"));
    EXPECT_TRUE(bar->toolTip().contains(QStringLiteral("no controller")));
    stick.Attach();
    EXPECT_TRUE(WaitFor([&] { return list->count() == 1; }));
    EXPECT_EQ(bar->toolTip().section('\n', 0, 0), QStringLiteral("Tamborex: Test Pad"));
    EXPECT_FALSE(bar->toolTip().contains(QStringLiteral("no controller")));
    list->activated(0);
    EXPECT_TRUE(bar->Session().PatchModified());
    EXPECT_EQ(ReadPatchMarks(bar->Session().Engine().patches[0]).controllerName, "Test Pad");
}

TEST_F(DialogsTest, ACloseRequestWhileAnEditingDialogRunsClosesItFirstThenQuits) {
    CJoyOptions& options = OpenEdit();
    bar->Session().Rename("Kept");
    bool ran = false;
    prompter.run = [&](QDialog& dialog) {
        ran = true;
        QTimer::singleShot(0, bar.get(), [this] { bar->close(); });
        return dialog.exec();
    };
    In<QPushButton>("axisOptions0")->click();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(WaitFor([&] { return !bar->isVisible(); }));
    EXPECT_FALSE(options.isVisible());
    EXPECT_EQ(ReadBankFile().patchNames[0], "Kept");
}

}  // namespace
