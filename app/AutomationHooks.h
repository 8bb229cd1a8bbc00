// Environment hooks for unattended runs (tests, benchmarks, screenshots):
//   QV_SYS_CLASS_TTY=dir   read the port list from this folder instead of /sys/class/tty
//   QV_DIALOGS=stderr      boxes print their text to stderr instead of showing
//                          (messages: OK, questions: No, errors: OK)
//   QV_REPORT_SHOWN=1      print "QV_SHOWN <ms>" once the window has first been painted,
//                          <ms> counted from the start of main
//   QV_TAB=n[.m]           show tab n (from 0) of the main tab control, and tab m of
//                          the text tabs
//   QV_CLICK=a,b,...       after showing, click these buttons (object names) in turn,
//                          one every QV_CLICK_GAP_MS (default 300) milliseconds
//   QV_SCREENSHOT=file.png grab the window into the file QV_SCREENSHOT_MS (default 1500)
//                          milliseconds after showing, then quit; a message box open
//                          then is grabbed instead, with its details unfolded
//   QV_QUIT_MS=n           quit n milliseconds after showing
// Without them the program starts exactly as it would for an operator.
#pragma once

class QElapsedTimer;
class TMainForm;

// Before the window is built: the dialog seam and the port list's folder.
void InstallStartHooks();
// Once the window is shown: tabs, clicks, screenshot, quit, first-paint report.
void ScheduleShownHooks(TMainForm& form, const QElapsedTimer& clock);
