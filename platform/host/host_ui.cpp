// Message boxes and the modal dialog, modelled in memory.  Windows are
// records in a live set, so a call on a window that is gone (or never
// was) fails the way Win32 fails it.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host_internal.h"

namespace {

struct Window {
  int id;  // the control id; 0 for a dialog
  std::string text;
  Window* parent;
  std::vector<Window*> children;
  bool ended;
  INT_PTR result;
  size_t run;  // a dialog's record in g_runs
};

struct Template {
  std::vector<int> ids;
  std::vector<std::string> texts;
  int defaultId;
};

std::set<const Window*> g_windows;
std::vector<HostBox> g_boxes;
std::vector<int> g_answers;
size_t g_nextAnswer;
HostBoxHook g_boxHook;
void* g_boxContext;
std::map<int, Template> g_templates;
std::vector<HostInput> g_script;
HostDialogHook g_dialogHook;
void* g_dialogContext;
std::vector<HostDialogRun> g_runs;

Window* FindWindow(HWND handle) {
  const Window* window = reinterpret_cast<const Window*>(handle);
  return g_windows.count(window) ? const_cast<Window*>(window) : nullptr;
}

HWND HandleOf(Window* window) { return reinterpret_cast<HWND>(window); }

std::vector<std::string> TextsOf(const Window* dialog) {
  std::vector<std::string> texts;
  for (const Window* child : dialog->children) texts.push_back(child->text);
  return texts;
}

HWND ChildHandle(Window* dialog, int id) {
  for (Window* child : dialog->children) {
    if (child->id == id) return HandleOf(child);
  }
  return nullptr;
}

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  DWORD error = 0;
  if (HostCheckFault(HOST_CALL_BOX, &error) == HOST_FAULT_FAIL) {
    SetLastError(error);
    return 0;
  }
  if (owner != nullptr && FindWindow(owner) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if ((type & ~MB_OKCANCEL) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // A box with one OK button can only answer IDOK; the scripted answers
  // are for boxes that offer Cancel.
  int answer = IDOK;
  if (type == MB_OKCANCEL && g_nextAnswer < g_answers.size()) answer = g_answers[g_nextAnswer++];
  g_boxes.push_back(HostBox{owner, text ? text : "", caption ? caption : "", type, answer});
  if (g_boxHook != nullptr) {
    HostBox shown = g_boxes.back();
    g_boxHook(shown, g_boxContext);
  }
  return answer;
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc,
                        LPARAM param) {
  DWORD error = 0;
  if (HostCheckFault(HOST_CALL_DIALOG, &error) == HOST_FAULT_FAIL) {
    SetLastError(error);
    return -1;
  }
  ULONG_PTR name = reinterpret_cast<ULONG_PTR>(templateName);
  auto found = name < 0x10000 ? g_templates.find(static_cast<int>(name)) : g_templates.end();
  if (found == g_templates.end() || proc == nullptr ||
      (owner != nullptr && FindWindow(owner) == nullptr)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return -1;
  }
  const Template& tmpl = found->second;
  size_t run = g_runs.size();
  Window* dialog = new Window{0, "", nullptr, {}, false, 0, run};
  g_windows.insert(dialog);
  for (size_t i = 0; i < tmpl.ids.size(); ++i) {
    Window* child = new Window{tmpl.ids[i], tmpl.texts[i], dialog, {}, false, 0, run};
    dialog->children.push_back(child);
    g_windows.insert(child);
  }
  HWND hwnd = HandleOf(dialog);
  g_runs.push_back(HostDialogRun{found->first, instance, owner, proc, param, hwnd, {}, {}, {}, 0, -1});

  auto deliver = [&](UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR handled = proc(hwnd, message, wParam, lParam);
    g_runs[run].procResults.push_back(handled);
    return handled;
  };
  auto command = [&](int id) {
    deliver(WM_COMMAND, static_cast<WPARAM>(static_cast<WORD>(id)),
            reinterpret_cast<LPARAM>(ChildHandle(dialog, id)));
  };

  HWND focus = tmpl.ids.empty() ? nullptr : HandleOf(dialog->children[0]);
  deliver(WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), param);
  // The dialog shows once initialisation is over, unless it already ended.
  if (!dialog->ended) g_runs[run].shownTexts = TextsOf(dialog);
  for (size_t i = 0; i < g_script.size() && !dialog->ended; ++i) {
    if (g_dialogHook != nullptr) g_dialogHook(i, g_dialogContext);
    const HostInput& input = g_script[i];
    switch (input.kind) {
      case HOST_INPUT_MESSAGE:
        deliver(input.message, input.wParam, input.lParam);
        break;
      case HOST_INPUT_ENTER:
        command(tmpl.defaultId);
        break;
      case HOST_INPUT_ESCAPE:
        command(IDCANCEL);
        break;
      case HOST_INPUT_CLOSE:
        // The platform's own dialog handling turns an unhandled close into
        // the cancel command.
        if (!deliver(WM_CLOSE, 0, 0) && !dialog->ended) command(IDCANCEL);
        break;
    }
  }
  g_runs[run].finalTexts = TextsOf(dialog);
  INT_PTR result = -1;
  if (dialog->ended) {
    result = dialog->result;
  } else {
    // A real dialog would wait for input for ever; the model gives up.
    SetLastError(ERROR_INVALID_PARAMETER);
  }
  g_runs[run].result = result;
  for (Window* child : dialog->children) {
    g_windows.erase(child);
    delete child;
  }
  g_windows.erase(dialog);
  delete dialog;
  return result;
}

BOOL EndDialog(HWND handle, INT_PTR result) {
  Window* dialog = FindWindow(handle);
  if (dialog == nullptr || dialog->parent != nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  dialog->ended = true;
  dialog->result = result;
  ++g_runs[dialog->run].endDialogCalls;
  return TRUE;
}

HWND GetDlgItem(HWND handle, int id) {
  Window* dialog = FindWindow(handle);
  HWND child = dialog != nullptr ? ChildHandle(dialog, id) : nullptr;
  if (child == nullptr) SetLastError(dialog ? 1421 /* control id not found */ : ERROR_INVALID_WINDOW_HANDLE);
  return child;
}

BOOL SetWindowTextA(HWND handle, LPCSTR text) {
  Window* window = FindWindow(handle);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  window->text = text ? text : "";
  return TRUE;
}

void HostQueueBoxAnswer(int answer) { g_answers.push_back(answer); }

const std::vector<HostBox>& HostBoxes() { return g_boxes; }

void HostSetBoxHook(HostBoxHook hook, void* context) {
  g_boxHook = hook;
  g_boxContext = context;
}

void HostDefineDialog(int templateId, const HostControl* controls, size_t count, int defaultId) {
  Template& tmpl = g_templates[templateId];
  tmpl.ids.clear();
  tmpl.texts.clear();
  for (size_t i = 0; i < count; ++i) {
    tmpl.ids.push_back(controls[i].id);
    tmpl.texts.push_back(controls[i].text ? controls[i].text : "");
  }
  tmpl.defaultId = defaultId;
}

void HostScriptDialog(const std::vector<HostInput>& inputs) { g_script = inputs; }

void HostSetDialogHook(HostDialogHook hook, void* context) {
  g_dialogHook = hook;
  g_dialogContext = context;
}

const std::vector<HostDialogRun>& HostDialogRuns() { return g_runs; }

void HostResetUi() {
  g_boxes.clear();
  g_answers.clear();
  g_nextAnswer = 0;
  g_boxHook = nullptr;
  g_boxContext = nullptr;
  g_templates.clear();
  g_script.clear();
  g_dialogHook = nullptr;
  g_dialogContext = nullptr;
  g_runs.clear();
}
