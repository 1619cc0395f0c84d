@echo off
rem Plays the bundled demo: the player runs in the demo's folder, where its
rem configuration and every file it names are found.
cd /d "%~dp0demo"
tolvane.exe %*
