<%@ Language="VBScript" CodePage=65001 %>
<%
' progress.asp - how far the upload under ?id= has come, as JSON, for
' upload-progress.asp's bar (which asks every half second): VARO.Progress
' reads it from the upload's own request, whichever process serves that.
' An id that names no upload answers state "unknown".
Option Explicit
Response.CharSet = "UTF-8"
Response.ContentType = "application/json"

' A JSON string: quotes, backslashes and control characters escaped.
Function JsonText(text)
    Dim s, i
    s = Replace(Replace(CStr(text), "\", "\\"), """", "\""")
    For i = 0 To 31
        s = Replace(s, Chr(i), "\u" & Right("000" & Hex(i), 4))
    Next
    JsonText = """" & s & """"
End Function

' A JSON number, whatever decimal mark the server's locale writes.
Function JsonNumber(n)
    JsonNumber = Replace(CStr(n), ",", ".")
End Function

Dim report
Set report = Server.CreateObject("VARO.Progress").Read(Request.QueryString("id") & "")
Response.Write "{""state"":" & JsonText(report.State) & _
    ",""message"":" & JsonText(report.Message) & _
    ",""bytesRead"":" & JsonNumber(report.BytesRead) & _
    ",""totalBytes"":" & JsonNumber(report.TotalBytes) & _
    ",""percent"":" & JsonNumber(Round(report.Percent, 1)) & _
    ",""filesDone"":" & JsonNumber(report.FilesDone) & _
    ",""currentField"":" & JsonText(report.CurrentField) & _
    ",""currentFile"":" & JsonText(report.CurrentFile) & _
    ",""elapsedSeconds"":" & JsonNumber(Round(report.ElapsedSeconds, 1)) & _
    ",""bytesPerSecond"":" & JsonNumber(Round(report.BytesPerSecond)) & _
    ",""remainingSeconds"":" & JsonNumber(Round(report.RemainingSeconds, 1)) & "}"
%>
