// The settings sheet: its caption, its pages in order with their templates in
// the user's language, and what shows it.
#pragma once

#include <string>
#include <vector>

#include "ui/config_pages.h"
#include "ui/ui_texts.h"

class CConfigSheet {
 public:
  CConfigSheet(std::string caption, void* parent, SheetLanguage language);
  CConfigSheet(const CConfigSheet&) = delete;
  CConfigSheet& operator=(const CConfigSheet&) = delete;

  // The sheet shows the page with the template of its language; it does not own it.
  void AddPage(CConfigPage* page);

  const std::string& Caption() const { return m_strCaption; }
  // The owner window.
  void* Parent() const { return m_hwndParent; }
  SheetLanguage Language() const { return m_language; }
  int PageCount() const { return static_cast<int>(m_pages.size()); }
  CConfigPage& Page(int index) const { return *m_pages[static_cast<std::size_t>(index)]; }
  int TemplateId(int index) const { return Page(index).TemplateId(m_language); }
  int StartPage() const { return 0; }

 private:
  std::string m_strCaption;
  void* m_hwndParent;
  SheetLanguage m_language;
  std::vector<CConfigPage*> m_pages;
};

enum class SheetEnd { kOk, kCancel };

// Shows a sheet modally and tells how it ended: a Win32 property sheet, the
// terminal form, or a test's script.
class SheetRunner {
 public:
  virtual ~SheetRunner() = default;
  virtual SheetEnd RunModal(CConfigSheet& sheet) = 0;
};
