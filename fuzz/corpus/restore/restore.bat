@echo off
REM Kelvane Studio restore
DEL "logo.sys"
COPY "logo1.bmp" "logo.sys"
copy "missing" "x"
