#include "sim/ScriptedDialogs.h"

namespace qx {

namespace {

// The window side of a scripted showing: keeps what the logic put on screen.
class RecordingWindow : public DialogWindow {
 public:
  explicit RecordingWindow(ShownDialog& record) : record(record) {}

  void SetCaption(const std::string& text) override { record.caption = text; }
  void SetControlText(int controlId, const std::string& text) override {
    record.controls[controlId] = text;
  }
  std::string ControlText(int controlId) const override {
    auto it = record.controls.find(controlId);
    return it == record.controls.end() ? std::string() : it->second;
  }
  void EnableControl(int controlId, bool enabled) override {
    record.disabled[controlId] = !enabled;
  }
  void ShowTooLongPrompt(int, std::size_t) override { ++record.tooLongPrompts; }
  void End(int result) override {
    record.ended = true;
    record.result = result;
  }

 private:
  ShownDialog& record;
};

const char* LanguageTag(Language language) {
  return language == Language::Japanese ? "ja" : "en";
}

// Plays a script against one dialog. `filter` is empty for dialogs without a filter;
// `paint` is called on the first paint and on every Paint action.
template <typename Dialog, typename Filter, typename PaintFn>
void Play(Dialog& dialog, const DialogScript& script, int defaultButton, ShownDialog& record,
          bool probe, Filter filter, PaintFn paint) {
  RecordingWindow window(record);

  dialog.OnOpen(window);
  paint(window);
  if (probe) record.refusedWhileOpen = ProbeSessionEnd(record, filter, true);
  for (const ScriptAction& action : script) {
    if (record.ended) break;  // the window is gone; later actions have nothing to reach
    switch (action.type) {
      case ScriptAction::Type::Press:
        dialog.OnCommand(action.controlId, window);
        break;
      case ScriptAction::Type::Enter:
        dialog.OnCommand(defaultButton, window);
        break;
      case ScriptAction::Type::Send:
        SendThroughFilter(record, filter, action.message, action.wParam);
        break;
      case ScriptAction::Type::Paint:
        paint(window);
        break;
      case ScriptAction::Type::Edit:
        window.SetControlText(action.controlId, action.text);
        break;
    }
  }
  if (probe && record.ended) record.releasedAfterEnd = ProbeSessionEnd(record, filter, false);
}

}  // namespace

DialogScript ScriptedDialogs::NextScript(int defaultButton) {
  if (!scripts.empty()) {
    DialogScript script = std::move(scripts.front());
    scripts.pop_front();
    return script;
  }
  if (answerByDefault) return {ScriptAction::Press(defaultButton)};
  return {};
}

void ScriptedDialogs::Log(const std::string& line) {
  if (logSink) logSink(line);
}

int ScriptedDialogs::RunModal(MessageDialog& dialog) {
  ShownDialog record;
  record.name = KindName(dialog.Kind());
  record.language = dialog.GetLanguage();
  record.templateId = dialog.TemplateId();
  const DialogScript script = NextScript(kIdOk);
  Play(
      dialog, script, dialog.InitialFocusId(), record, probeSessionEnd,
      [&](unsigned m, std::uintptr_t w) { return dialog.FilterMessage(m, w); },
      [](DialogWindow&) {});
  shownDialogs.push_back(record);
  Log(std::string("DIALOG ") + record.name + " " + LanguageTag(record.language) + " -> " +
      std::to_string(record.result));
  return record.result;
}

int ScriptedDialogs::RunModal(TermsDialog& dialog) {
  ShownDialog record;
  record.name = "Terms";
  record.language = dialog.GetLanguage();
  record.templateId = TermsDialog::kTemplateId;
  // The template's own labels, until the first paint relabels them.
  record.controls[TermsDialog::kAgreeId] = Text(TextId::AgreeButton, Language::English);
  record.controls[TermsDialog::kNotAgreeId] = Text(TextId::NotAgreeButton, Language::English);
  const DialogScript script = NextScript(TermsDialog::kAgreeId);
  Play(
      dialog, script, TermsDialog::kDefaultButtonId, record, probeSessionEnd,
      [&](unsigned m, std::uintptr_t w) { return dialog.FilterMessage(m, w); },
      [&](DialogWindow& window) { dialog.OnPaint(window); });
  shownDialogs.push_back(record);
  Log(std::string("TERMS ") + LanguageTag(record.language) + " -> " +
      std::to_string(record.result));
  return record.result;
}

int ScriptedDialogs::RunModal(AboutDialog& dialog) {
  ShownDialog record;
  record.name = "About";
  record.language = dialog.GetLanguage();
  record.templateId = AboutDialog::kTemplateId;
  const DialogScript script = NextScript(kIdOk);
  // The About box has no filter of its own: its owner, the main dialog, keeps refusing.
  Play(
      dialog, script, kIdOk, record, false, [](unsigned, std::uintptr_t) { return FilterAnswer{}; },
      [](DialogWindow&) {});
  shownDialogs.push_back(record);
  Log("ABOUT -> " + std::to_string(record.result));
  return record.result;
}

}  // namespace qx
