' Drives VARO.WebMng late-bound, as a page does, over one request body.
' Usage: cscript //nologo webmng_page.vbs BODYFILE OUTDIR FIELD...
' Prints one line per observation, ASCII only: fields by their argument
' number, text as UTF-16 code lists, so the console's code page cannot change
' it (Wine's cscript also overruns its buffer when it prints double-byte
' text to a pipe). The last line is the sentinel.
Option Explicit

' Wine's VBScript has no AscW, so the code units are read by a JScript helper.
Dim helper
Set helper = CreateObject("MSScriptControl.ScriptControl")
helper.Language = "JScript"
helper.AddCode "function codes(s) { if (s == null) return '[]'; s = String(s); " & _
    "var r = []; for (var i = 0; i < s.length; i++) r.push(s.charCodeAt(i)); return '[' + r.join(',') + ']'; }"

Function Codes(s)
    Codes = helper.Run("codes", s)
End Function

Dim mng, args, body, outDir, i, name, result, path, fname, size, value, bytes
Set args = WScript.Arguments
outDir = args(1)
Set mng = CreateObject("VARO.WebMng")

result = mng.ReadBinary(args(0), body)
WScript.Echo "readbinary " & result & " " & TypeName(body)

For i = 2 To args.Count - 1
    name = args(i)
    result = mng.GetFileInfo(body, name, path, fname, size)
    WScript.Echo "info " & i & " " & result & " " & Codes(path) & " " & Codes(fname) & " " & size
    bytes = mng.FormBinary(body, name)
    WScript.Echo "formbinary " & i & " " & mng.WriteBinary(bytes, outDir & "\" & name & ".bin")
    If fname = "" Then
        value = mng.Form(body, name)
        WScript.Echo "form " & i & " " & Codes(value)
    Else
        WScript.Echo "writeform " & i & " " & mng.WriteForm(body, outDir & "\" & name & ".saved", name)
    End If
Next

' A failing call: its Japanese description as the script sees it.
On Error Resume Next
result = mng.ReadBinary(outDir & "\no-such-file.bin", bytes)
WScript.Echo "error " & Hex(Err.Number) & " " & Codes(Err.Description)
Err.Clear
result = mng.WriteBinary("not bytes", outDir & "\x.bin")
WScript.Echo "error " & Hex(Err.Number) & " " & Codes(Err.Description)
Err.Clear
On Error GoTo 0

WScript.Echo "guid " & mng.CreateGUID() & " " & mng.CreateGUID()
WScript.Echo "deletefile " & mng.DeleteFile(outDir & "\no-such-file.bin")
WScript.Echo "deletefileex " & mng.DeleteFileEx(outDir & "\", "*.bin")
WScript.Echo "sentinel done"
