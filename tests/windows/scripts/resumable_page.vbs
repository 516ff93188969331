' VARO.Resumable late-bound through both ProgIDs, as a page creates it
' after regsvr32: its settings read back, and Handle without the page's
' Request refused with the Japanese message. (Request and Response are the
' page host's; the protocol's answers are the C++ and served tests'.) Says
' "create 1AD" when the class is not registered.
On Error Resume Next

' A text as its UTF-16 units, "[n,n,...]": Wine's cscript overruns its
' buffer printing double-byte text to a pipe, and its VBScript has no AscW,
' so a JScript helper reads the units (as webmng_page.vbs does).
Dim helper
Set helper = CreateObject("MSScriptControl.ScriptControl")
helper.Language = "JScript"
helper.AddCode "function codes(s) { if (s == null) return '[]'; s = String(s); " & _
    "var r = []; for (var i = 0; i < s.length; i++) r.push(s.charCodeAt(i)); return '[' + r.join(',') + ']'; }"

Function Codes(s)
    Codes = helper.Run("codes", s)
End Function

Dim tus, tus1
Set tus = CreateObject("VARO.Resumable")
WScript.Echo "create " & Hex(Err.Number)
Set tus1 = CreateObject("VARO.Resumable.1")
WScript.Echo "create1 " & Hex(Err.Number)
If Err.Number = 0 Then
    tus.Folder = WScript.Arguments(0)
    tus.MaxSize = 1048576
    tus.Expires = 30
    WScript.Echo "settings " & tus.MaxSize & " " & tus.Expires & " " & tus.ChecksumAlgorithms & " " & (tus.Folder = WScript.Arguments(0))
    tus.Handle Nothing, Nothing
    WScript.Echo "handle " & Hex(Err.Number) & " " & Codes(Err.Description)
    Err.Clear
    WScript.Echo "status " & tus.Status & " complete " & tus.Complete
End If
WScript.Echo "sentinel done"
