// The main window: every command, timer handler and editing operation of the
// editor is a method of TForm1. The methods live beside the subsystem they
// belong to (profile/, sync/, editor/); this file declares them all.
#pragma once

#include <QCheckBox>
#include <QKeySequence>
#include <QList>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/Dialogs.h"
#include "app/Widgets.h"
#include "editor/UndoHistory.h"
#include "midi/Midi.h"
#include "profile/ParaTable.h"
#include "sync/SysEx.h"

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // What the window is given from outside: the seams of the tests.
  struct Services {
    std::shared_ptr<IDialogs> Dialogs;          // questions, notices, errors, file dialogs
    std::shared_ptr<vlx::IMidiService> Midi;    // the MIDI service behind the port lists
    std::function<bool()> UsbDevicePresent;     // the USB check of discovery
    std::string AppDir;                         // the executable's folder, ending in '/'
    // The program entry's choice: FormCreate stops before the port lists and
    // discovery, and StartMidi() runs just after the window's first paint,
    // so the window shows without waiting for the MIDI service. Otherwise
    // (tests, tools) FormCreate runs StartMidi() itself.
    bool StartMidiAfterFirstPaint = false;
    // A profile named on the command line: opened as OPEN opens a file,
    // once the window is up. Empty: none.
    std::string OpenAtStart;
  };

  // Builds the layout and runs FormCreate. Errors of FormCreate are shown in
  // the error box; the window is usable all the same.
  explicit TForm1(Services services, QWidget* parent = nullptr);
  // FormDestroy, then the exit sequence: the port lists are released after
  // every port still open has been closed.
  ~TForm1() override;

  // ---- app/Unit1.cpp: start-up and shutdown
  void FormCreate();
  // FormCreate's last two steps: the port lists, then discovery.
  void StartMidi();
  void FormDestroy();
  // Runs an event handler; an error that leaves it is shown in the error box.
  void Guarded(const std::function<void()>& handler);
  void ShowError(const std::exception& e);

  // ---- app/Discovery.cpp: finding the controller, connection state
  void Discovery();
  void CloseState();
  void Timer3Timer();
  void TimerCheckUSBTimer();
  // Mode-2 choice of DevicePort from an identity reply (MIDI thread, under SysExLock).
  void ChooseDevicePortFromReply();
  // While DeviceOffline is set, TimerReplug looks once a second for the
  // controller's ports (and its USB id); when they are there, Rediscover
  // closes what is open, renews the port lists and runs discovery again.
  void StartWatching();
  void TimerReplugTimer();
  bool ControllerListed();
  void CloseDevicePorts();
  void RenewPortLists();
  void Rediscover();

  // ---- profile/: the table in the editor, files, profile commands
  void ResetPara();
  void RegainData();
  void LoadParaFromFile(const std::string& path);
  void SaveParaToFile();
  void BtnNEWClick(QObject* sender);
  void BtnOpenClick(QObject* sender);
  // OPEN's steps after the dialog: path becomes the current profile, is
  // named in LbProFile and loaded into the table and the editor.
  void OpenProfile(const QString& path);
  void BtnSaveClick(QObject* sender);
  void BtnExportClick(QObject* sender);
  void BtselfSaveClick(QObject* sender);

  // ---- sync/: SysEx messages and the device transfers
  void SysExReceived(int32_t port, vlx::TByteStream& stream);  // MIDI thread
  void AnalysisData();                                         // UI thread
  void BtnSyncPcClick(QObject* sender);
  void TimerSyncPCTimer();
  void BtnSyncFwClick(QObject* sender);
  void BtnResetClick(QObject* sender);
  void TimerSyncFWTimer();

  // ---- editor/: control selection and editing, live monitor
  void mCode1Click(QObject* sender);
  void ClealAll();
  void SaveCurrentPara();
  // key is the typed character; set to 0 to discard it.
  void EdtValueKeyPress(QObject* sender, char16_t& key);
  void MidiDataReceived(int32_t port, uint8_t status, uint8_t data1, uint8_t data2);  // MIDI thread
  void CmbDataDisClick(QObject* sender);
  void RenderMonitor();

  // ---- editor/UndoRedo.cpp: undo and redo of the window's changes to the
  // profile. Nothing is written or sent by them.
  // What the window shows of the profile now, typed text included.
  vlx::TEditorState CaptureState() const;
  // Shows a captured state: table, selection, editor fields, GLOBAL lists.
  void ShowState(const vlx::TEditorState& state);
  void Undo();
  void Redo();
  // A GLOBAL list was picked from (index: its place in the global block).
  void GlobalListPicked(int index);
  vlx::TUndoHistory History;

  // ---- profile/ProfileCommands.cpp: closing the window
  // Whether the profile as SAVE would write it differs from the file at
  // ProfilePath (a file that cannot be read differs).
  bool ProfileDiffersFromFile() const;
  // Asks before closing with unsaved changes; canClose is false to keep the
  // window open.
  void FormCloseQuery(bool& canClose);

  bool eventFilter(QObject* watched, QEvent* event) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 public:

  // ---- the profile
  vlx::TParaTable ParaTable;
  int32_t CurrentControl = 0;
  std::string ProfilePath;

  // ---- connection state
  std::atomic<int32_t> DeviceOffline{0};
  std::atomic<int32_t> DevicePort{0};
  std::atomic<int32_t> DiscoveryMode{0};
  int32_t UsbPortCount = 0;
  int32_t HubFound = 0;
  std::array<int32_t, 11> OutputOpened{};
  std::array<int32_t, 11> InputOpened{};
  int32_t PollTicks = 0;

  // ---- SysEx reception and the transfers
  std::recursive_mutex SysExLock;
  vlx::TRxTokens RxTokens;                  // guarded by SysExLock
  int32_t SysExPortIndex = 0;               // guarded by SysExLock
  std::atomic<int32_t> SyncFwAcked{0};
  std::atomic<int32_t> SyncPcDone{0};
  int32_t SyncPcTicks = 0;
  int32_t SyncFwTicks = 0;

  // ---- live monitor: the last message, status | data1 << 8 | data2 << 16,
  // stored and read as one unit
  std::atomic<uint32_t> LastMessage{0};

  // ---- the MIDI module: InputPorts(), OutputPorts(), LastProbeResult
  vlx::TMidiModule& Midi() { return *midi_; }
  vlx::TMidiInput& InputPorts() { return midi_->InputPorts(); }
  vlx::TMidiOutput& OutputPorts() { return midi_->OutputPorts(); }
  IDialogs& Dialogs() { return *services_.Dialogs; }
  const Services& GetServices() const { return services_; }

  // ---- the window's controls (layout in app/Unit1Layout.cpp)
  TImage* OrvantaLogo = nullptr;
  TLabel *Label6 = nullptr, *LbVersions = nullptr, *LbConnect = nullptr;
  TLabel* LbProFile = nullptr;
  TLabel *BtnNEW = nullptr, *BtnOpen = nullptr, *BtnReset = nullptr, *BtnExport = nullptr, *BtnSave = nullptr,
         *BtnSyncPc = nullptr, *BtnSyncFw = nullptr;
  TShape *ShNEW = nullptr, *ShPOEN = nullptr, *ShRESET = nullptr, *ShEXPORT = nullptr, *ShSAVE = nullptr,
         *ShSyncPC = nullptr, *ShSyncFW = nullptr;
  QProgressBar *ProBarToPC = nullptr, *ProBarToFW = nullptr;
  TLabel *LbBar1 = nullptr, *LbBar2 = nullptr;
  TLabel* Label1 = nullptr;
  TComboBox *CmbARPMode = nullptr, *CmbARPTime = nullptr, *CmbARPOctave = nullptr, *CmbScale = nullptr,
            *CmbVelocity = nullptr, *CmbPadMode = nullptr, *CmbBeat = nullptr, *CmbKeyChannel = nullptr;
  TLabel *Label2 = nullptr, *Label9 = nullptr, *Label11 = nullptr, *Label10 = nullptr, *Label5 = nullptr,
         *Label3 = nullptr, *Label7 = nullptr, *Label4 = nullptr;
  TShape *Shape1 = nullptr, *Shape2 = nullptr;
  TLabel *Label14 = nullptr, *Label16 = nullptr;
  std::array<TImage*, 22> ImgbData{};  // [1..21] normal pictures
  std::array<TImage*, 22> ImgData{};   // [1..21] highlight pictures
  std::array<TImage*, 22> mCode{};     // [1..21] click areas
  TLabel* LbPARAMETER = nullptr;
  TLabel* BtnParaName = nullptr;
  QLineEdit *EdtNameEditor = nullptr, *EdtValue = nullptr;
  TLabel* LbVALUE = nullptr;
  TComboBox* CmbChannel = nullptr;
  TLabel* LbCHANNEL = nullptr;
  TComboBox* CmbDataType = nullptr;
  TLabel* LbType = nullptr;
  TComboBox* CmbControlMode = nullptr;
  QCheckBox* CbEnable = nullptr;
  TLabel *Label12 = nullptr, *LbENABLE = nullptr, *Label31 = nullptr;
  QPushButton* BtselfSave = nullptr;
  TShape* ShDisplay = nullptr;
  TLabel *Label13 = nullptr, *LbStatus = nullptr, *Label15 = nullptr, *LbData1 = nullptr, *Label17 = nullptr,
         *LbData2 = nullptr;
  TComboBox* CmbDataDis = nullptr;
  TCheckListBox *lbxInputDevices = nullptr, *lbxOutputDevices = nullptr;
  TLabel *LbInputD = nullptr, *LbOutputD = nullptr;
  TLabel* LbUSBNum = nullptr;
  QTimer *Timer3 = nullptr, *TimerSyncPC = nullptr, *TimerSyncFW = nullptr, *TimerCheckUSB = nullptr;
  QTimer* TimerReplug = nullptr;  // made by StartWatching

  // The global lists in the order of the global block.
  std::array<TComboBox*, 8> GlobalCombos() const;

 private:
  // editor/UndoRedo.cpp: one step of the history around a change: the state
  // before it is taken when made, and recorded when it goes if the change
  // made a difference (to the table only, for a hand-over), also when the
  // change ended in an error part-way.
  class UndoStep {
   public:
    explicit UndoStep(TForm1& form, bool tableOnly = false);
    ~UndoStep();
    UndoStep(const UndoStep&) = delete;
    UndoStep& operator=(const UndoStep&) = delete;

   private:
    TForm1& form_;
    vlx::TEditorState before_;
    bool tableOnly_;
  };
  // editor/UndoRedo.cpp: the shortcuts, and the edit boxes' own undo first.
  void ConnectUndo();
  bool UndoKeyEvent(QObject* watched, QEvent* event);
  // editor/ControlEditing.cpp: the data-type items of control n's kind, and
  // type and channel shown for the slider and the knobs.
  void ShowKindOf(int n);
  // editor/ControlEditing.cpp: the editor's fields stored into table as
  // SAVE stores them (value, channel, data type, name, GLOBAL lists).
  void StorePendingInto(vlx::TParaTable& table) const;

  // sync/: one tick of a transfer's wait: announce a raised flag once, stop
  // after the eleventh tick.
  void TransferTick(QTimer* timer, std::atomic<int32_t>& flag, int32_t& ticks, QProgressBar* bar,
                    const char* successText);
  // sync/: send a parameter dump and start waiting for its acknowledgement.
  void SendDumpAndWait(const std::string& dumpText);

  // app/Unit1.cpp: step 5 of FormCreate, control 17 and the global block in
  // the editor from the table.
  void ShowStartControl();
  // After an error that ended FormCreate before step 5: the value box set up,
  // control 17 selected and shown, a profile path, and the factory profile
  // in memory when nothing was read, so that every command works.
  void FinishFailedStart();

  void BuildLayout();     // app/Unit1Layout.cpp: every control at its place
  void ConnectEvents();   // app/Unit1.cpp: handlers to controls and timers
  // Runs StartMidi() if FormCreate left it for later and it has not run yet.
  void StartMidiIfPending();

  Services services_;
  std::unique_ptr<vlx::TMidiModule> midi_;
  std::atomic<bool> monitorPending_{false};
  std::atomic<bool> dumpPending_{false};
  std::mutex dumpMutex_;
  vlx::TRxTokens pendingDump_;  // guarded by dumpMutex_
  bool destroyed_ = false;
  bool rediscovering_ = false;
  bool midiStartPending_ = false;  // FormCreate left StartMidi() for after the first paint
  bool midiStartQueued_ = false;
  bool startControlShown_ = false;
  std::array<int32_t, 8> globalIndexAtPress_{};  // each GLOBAL list's item when the user took it up
  QList<QKeySequence> undoKeys_, redoKeys_;
};
