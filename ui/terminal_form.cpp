#include "ui/terminal_form.h"

#include <cctype>

#include "ui/text_convert.h"

namespace {

constexpr char kKeep[] = "";
constexpr char kEmpty[] = "-";
constexpr char kCheck[] = "x";

// A template's label on one line.
std::string OneLine(const char* text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  return line;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

TerminalForm::TerminalForm(std::istream& in, std::ostream& out) : m_in(in), m_out(out) {}

bool TerminalForm::ReadLine(std::string* line) {
  m_out.flush();
  if (!std::getline(m_in, *line)) {
    m_out << '\n';
    return false;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

SheetEnd TerminalForm::RunModal(CConfigSheet& sheet) {
  m_texts = &TextsFor(sheet.Language());
  SheetSession session(sheet);
  const std::string caption = AnsiToUtf8(sheet.Caption());
  for (int i = 0; i < session.Sheet().PageCount(); ++i) {
    session.View(i).OnMessage([this](const MemoryPageView::Message& message) {
      m_out << MessageText(IDS_MESSAGE_CAPTION) << ": " << message.text << '\n';
    });
  }
  m_out << caption << '\n' << std::string(caption.size(), '=') << '\n';

  while (!session.Ended()) {
    if (!AskPage(session)) break;
    const int next = session.CurrentPage() + 1;
    if (next < session.Sheet().PageCount()) {
      if (!Retry(session, [next](SheetSession& s) { return s.SelectPage(next); })) break;
      continue;
    }
    Button button = Button::kCancel;
    if (!AskButton(session, &button) || button == Button::kCancel) break;
    if (button == Button::kOk) {
      if (!Retry(session, [](SheetSession& s) { return s.PressOk(); })) break;
    } else {
      if (!Retry(session, [](SheetSession& s) { return s.PressApply(); })) break;
      if (!Retry(session, [](SheetSession& s) { return s.SelectPage(s.Sheet().StartPage()); })) break;
    }
  }
  if (!session.Ended()) session.PressCancel();
  return session.Result();
}

template <typename Leave>
bool TerminalForm::Retry(SheetSession& session, Leave leave) {
  while (!leave(session)) {
    // A refusal that names no field (settings that could not be saved) keeps
    // the sheet open: the form goes round its pages again.
    const int field = session.CurrentView().TakeFocus();
    if (field == 0) return true;
    if (!AskField(session, field)) return false;
  }
  return true;
}

bool TerminalForm::AskPage(SheetSession& session) {
  const int page = session.CurrentPage();
  const char* title = page == 0 ? m_texts->connectionTitle : page == 1 ? m_texts->chargesTitle : m_texts->infoTitle;
  m_out << "\n-- " << title << " --\n";
  switch (page) {
    case 0:
      return AskField(session, IDC_MSN) && AskPort(session) && AskTrace(session);
    case 1:
      return AskField(session, IDC_CHARGE_PER_UNIT) && AskField(session, IDC_CURRENCY) && AskFormat(session);
    default:
      ShowInfo(session);
      return true;
  }
}

bool TerminalForm::AskField(SheetSession& session, int id) {
  if (session.CurrentPage() == 0) {
    return id == IDC_MSN ? AskEdit(session, id, m_texts->msnLabel, nullptr) : true;
  }
  if (session.CurrentPage() == 1) {
    if (id == IDC_CHARGE_PER_UNIT) return AskEdit(session, id, m_texts->chargeLabel, m_texts->chargeHint);
    if (id == IDC_CURRENCY) return AskEdit(session, id, m_texts->currencyLabel, m_texts->currencyHint);
  }
  return true;
}

bool TerminalForm::AskEdit(SheetSession& session, int id, const char* label, const char* hint) {
  m_out << OneLine(label) << ' ';
  if (hint != nullptr) m_out << hint << ' ';
  m_out << '[' << AnsiToUtf8(session.CurrentView().GetText(id)) << "] ";
  std::string line;
  if (!ReadLine(&line)) return false;
  if (line == kKeep) return true;
  session.Type(id, line == kEmpty ? std::string() : Utf8ToAnsi(line));
  return true;
}

bool TerminalForm::AskPort(SheetSession& session) {
  MemoryPageView& view = session.CurrentView();
  const auto& entries = view.At(IDC_PORT_LIST).entries;
  for (;;) {
    m_out << OneLine(m_texts->portLabel) << " (";
    for (std::size_t i = 0; i < entries.size(); ++i) m_out << (i == 0 ? "" : ", ") << entries[i];
    m_out << ") [" << view.GetText(IDC_PORT_LIST) << "] ";
    std::string line;
    if (!ReadLine(&line)) return false;
    if (line == kKeep) return true;
    int index = view.FindEntry(IDC_PORT_LIST, line);
    if (index < 0 && line.size() == 1 && line[0] >= '1' && line[0] < static_cast<char>('1' + entries.size())) {
      index = line[0] - '1';
    }
    if (index >= 0) {
      session.Choose(IDC_PORT_LIST, index);
      return true;
    }
  }
}

bool TerminalForm::AskTrace(SheetSession& session) {
  for (;;) {
    const bool checked = session.CurrentView().IsChecked(IDC_TRACE);
    m_out << m_texts->traceCheck << " [" << (checked ? kCheck : " ") << "] ";
    std::string line;
    if (!ReadLine(&line)) return false;
    line = Lower(line);
    if (line == kKeep) return true;
    if (line == kCheck || line == kEmpty) {
      if ((line == kCheck) != checked) session.Click(IDC_TRACE);
      return true;
    }
  }
}

bool TerminalForm::AskFormat(SheetSession& session) {
  MemoryPageView& view = session.CurrentView();
  for (;;) {
    m_out << m_texts->formatGroup << '\n';
    int current = 0;
    for (int format = 1; format <= 4; ++format) {
      const int id = IDC_FORMAT_UNITS + format - 1;
      if (view.IsChecked(id)) current = format;
      m_out << "  " << format << ' '
            << (view.IsChecked(id)     ? "(x)"
                : view.At(id).disabled ? " - "
                                       : "( )")
            << ' ' << m_texts->formatText[format - 1] << '\n';
    }
    m_out << "  [" << current << "] ";
    std::string line;
    if (!ReadLine(&line)) return false;
    if (line == kKeep) return true;
    if (line.size() == 1 && line[0] >= '1' && line[0] <= '4') {
      const int id = IDC_FORMAT_UNITS + (line[0] - '1');
      if (!view.At(id).disabled) {
        session.Click(id);
        return true;
      }
    }
  }
}

void TerminalForm::ShowInfo(SheetSession& session) {
  MemoryPageView& view = session.CurrentView();
  m_out << m_texts->infoHeading << '\n';
  m_out << OneLine(m_texts->tspVersionLabel) << ' ' << view.GetText(IDC_PROVIDER_VERSION) << '\n';
  m_out << OneLine(m_texts->tapiVersionLabel) << ' ' << view.GetText(IDC_TAPI_VERSION) << '\n';
  m_out << OneLine(m_texts->interfaceVersionLabel) << ' ' << view.GetText(IDC_INTERFACE_VERSION) << '\n';
}

bool TerminalForm::AskButton(SheetSession& session, Button* button) {
  const bool canApply = session.ApplyEnabled();
  for (;;) {
    m_out << (canApply ? "\n[O]K, [A]pply, [C]ancel: " : "\n[O]K, [C]ancel: ");
    std::string line;
    if (!ReadLine(&line)) return false;
    line = Lower(line);
    if (line == "o" || line == "ok") {
      *button = Button::kOk;
      return true;
    }
    if (canApply && (line == "a" || line == "apply")) {
      *button = Button::kApply;
      return true;
    }
    if (line == "c" || line == "cancel") {
      *button = Button::kCancel;
      return true;
    }
  }
}
