/* A sample skin for Tamberlin: copy the x folder beside the program to try it. */
QWidget#Form1 { background-color: #dfe6ee; }
QPushButton { background-color: #2b5d8a; color: white; border: 1px solid #1d4063; border-radius: 3px; padding: 2px; }
QPushButton:hover { background-color: #35709f; }
QGroupBox { border: 1px solid #8aa2b8; margin-top: 8px; }
QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; }
QProgressBar { border: 1px solid #8aa2b8; background: white; }
QProgressBar::chunk { background-color: #3f8f4f; }
