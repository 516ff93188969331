<%@ Language="VBScript" CodePage=65001 %>
<%
' host_verbs.asp - what a resumable upload's end point needs of the host:
' every verb with its headers and body, any status and header in the
' answer. The query string picks what the page does.
Option Explicit
Dim piece, count, total, n, name, value, names, mng, folder

' The body read in pieces of size bytes through a count variable, as an
' upload end point reads a chunk; each piece echoed or kept in a file.
Function ReadPieces(size, bKeep)
    total = 0
    n = 0
    Do
        count = size
        piece = Request.BinaryRead(count)
        If count = 0 Then Exit Do
        n = n + 1
        total = total + count
        If bKeep Then
            mng.WriteBinary piece, folder & "\" & Request.QueryString("tag") & "-" & Right("000" & n, 4) & ".bin"
        Else
            Response.BinaryWrite piece
        End If
        If count < size Then Exit Do
    Loop
    ReadPieces = total
End Function

Select Case Request.QueryString("mode")
Case "vars"
    ' name=value lines of the server variables asked for.
    Response.ContentType = "text/plain"
    Response.CharSet = "UTF-8"
    For Each name In Split(Request.QueryString("names"), ",")
        Response.Write name & "=" & Request.ServerVariables(name) & vbLf
    Next
Case "answer"
    ' A status with the headers an upload end point answers with, and no
    ' body unless asked for one.
    Response.Status = Request.QueryString("status")
    Response.AddHeader "Tus-Resumable", "1.0.0"
    If Request.QueryString("location") <> "" Then Response.AddHeader "Location", Request.QueryString("location")
    If Request.QueryString("offset") <> "" Then Response.AddHeader "Upload-Offset", Request.QueryString("offset")
    Response.AddHeader "Cache-Control", "no-store"
    If Request.QueryString("write") <> "" Then Response.Write Request.QueryString("write")
Case "inject"
    ' A header from the query string, refused or added.
    On Error Resume Next
    Response.AddHeader Request.QueryString("name"), Request.QueryString("value")
    If Err.Number <> 0 Then
        Response.Write "refused: " & Err.Description
    Else
        Response.Write "added"
    End If
Case "keep"
    ' Each piece kept in a file of its own, then a file whose name tells
    ' how many bytes came of how many: a body cut short shows what arrived.
    Set mng = Server.CreateObject("VARO.WebMng")
    folder = Server.MapPath("uploads")
    total = ReadPieces(CLng(Request.QueryString("piece")), True)
    n = 1
    piece = Empty
    mng.ReadBinary folder & "\" & Request.QueryString("tag") & "-0001.bin", piece
    mng.WriteBinary piece, folder & "\" & Request.QueryString("tag") & "-end-" & total & "-of-" & _
        Request.TotalBytes & ".txt"
Case Else
    ' The request told in headers, the body echoed as it was read.
    Response.ContentType = "application/octet-stream"
    Response.AddHeader "X-Method", Request.ServerVariables("REQUEST_METHOD")
    Response.AddHeader "X-Total-Bytes", Request.TotalBytes
    For Each name In Split(Request.QueryString("names"), ",")
        Response.AddHeader "X-Var-" & name, Request.ServerVariables(name)
    Next
    Response.AddHeader "X-Body-Read", ReadPieces(1000, False)
End Select
%>