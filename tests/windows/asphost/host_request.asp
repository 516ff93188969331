<%@ Language="VBScript" CodePage=65001 %>
<%
' host_request.asp - the request and response as the page host serves them:
' the query string picks what the page does.
Option Explicit
Dim piece, count, counts
Select Case Request.QueryString("mode")
Case "sjis"
    Response.CharSet = "Shift_JIS"
    Response.Write "日本語"
Case "status"
    Response.Status = "404 Not Found"
    Response.Write "gone"
Case "binary"
    Response.ContentType = "application/octet-stream"
    Response.BinaryWrite Request.BinaryRead(Request.TotalBytes)
Case "pieces"
    ' The body echoed piece by piece as BinaryRead gave it (10 bytes asked
    ' by value, then 7919 at a time through a count variable), then the
    ' count each call left in the variable.
    Response.ContentType = "application/octet-stream"
    Response.BinaryWrite Request.BinaryRead(10)
    counts = "total " & Request.TotalBytes & ":"
    Do
        count = 7919
        piece = Request.BinaryRead(count)
        counts = counts & " " & count
        If count = 0 Then Exit Do
        Response.BinaryWrite piece
    Loop
    Response.Write vbLf & counts
Case "first"
    count = 5
    piece = Request.BinaryRead(count)
    Response.Write "first " & count & " of " & Request.TotalBytes & ": "
    Response.BinaryWrite piece
Case "badstatus"
    Response.Status = "OK 200"
Case "badcharset"
    Response.CharSet = "no-such-set"
Case "timeout"
    ' Kept as set, and a time that is not one refused.
    Response.Write Server.ScriptTimeout & " "
    Server.ScriptTimeout = 3600
    Response.Write Server.ScriptTimeout & " "
    On Error Resume Next
    Server.ScriptTimeout = 0
    If Err.Number <> 0 Then Response.Write "refused "
    Response.Write Server.ScriptTimeout
Case "fail"
    Response.Write "before"
    Err.Raise 5, "page", "失敗 <b>"
Case Else
    Response.CharSet = "UTF-8"
    Response.Write "<p>" & Request.ServerVariables("REQUEST_METHOD") & "|" & Request.ServerVariables("CONTENT_TYPE") & _
        "|" & Request.ServerVariables("CONTENT_LENGTH") & "|" & Request.ServerVariables("QUERY_STRING") & "</p>"
    Response.Write "<p>" & Request.QueryString("name") & "|" & Request.QueryString("x") & "|" & _
        IsEmpty(Request.QueryString("none")) & "</p>"
    Response.Write "<p>" & Server.URLEncode("a b&日本") & "</p>"
End Select
%>
