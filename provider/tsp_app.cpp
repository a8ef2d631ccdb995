#include "platform/module_entry.h"
#include "provider/trace.h"
#include "provider/tsp_line_map.h"
#include "provider/tsp_provider.h"

// Constructed in this order when the module is loaded, destroyed in reverse.
CTspApp g_TspApp;
CTspLineMap g_TspLineMap;
CTspProvider g_TspProvider;

int CTspApp::InitInstance(void* instance) {
  m_hInstance = instance;
  QelTraceOpen();
  // The switch must be known before the first record.
  g_TspProvider.ReadTrace();
  const TraceParam params[] = {
      {"m_hInstance", TraceValue(m_hInstance), kTraceNumber, kTraceIn},
      {"g_hInstance", TraceValue(g_hInstance), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI App InitInstance", 2, params, 0};
  QelTraceEnter(&func);
  g_hInstance = m_hInstance;
  return QelTraceReturn(&func, 0);
}

int CTspApp::ExitInstance() {
  const TraceParam params[] = {
      {"m_hInstance", TraceValue(m_hInstance), kTraceNumber, kTraceIn},
      {"g_hInstance", TraceValue(g_hInstance), kTraceNumber, kTraceOut},
  };
  const TraceFunc func{"TSPI App ExitInstance", 2, params, 0};
  QelTraceEnter(&func);
  QelDeleteCtiPort();
  const int result = QelTraceReturn(&func, 0);
  QelTraceClose();
  return result;
}

void platform::OnModuleAttach(void* instance) { g_TspApp.InitInstance(instance); }

void platform::OnModuleDetach() { g_TspApp.ExitInstance(); }
