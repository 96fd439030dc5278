# The Win32 window program (loader.exe).
