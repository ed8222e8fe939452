// Writes FOLDER (relative to the working folder) as a gzip-compressed tarball
// in Go's GNU header form, with access and change times set, as build scripts
// written in Go do:
//
//	go run gnu_tar.go OUT.tar.gz FOLDER
package main

import (
	"archive/tar"
	"compress/gzip"
	"io"
	"io/fs"
	"os"
	"path/filepath"
	"time"
)

func add(tw *tar.Writer, path string, info fs.FileInfo) error {
	header, err := tar.FileInfoHeader(info, "")
	if err != nil {
		return err
	}
	header.Name = filepath.ToSlash(path)
	if info.IsDir() {
		header.Name += "/"
	}
	header.Format = tar.FormatGNU
	header.ModTime = time.Unix(1700000000, 0)
	header.AccessTime = time.Unix(1700000100, 0)
	header.ChangeTime = time.Unix(1700000200, 0)
	header.Uname, header.Gname = "", ""
	if err := tw.WriteHeader(header); err != nil {
		return err
	}
	if !info.Mode().IsRegular() {
		return nil
	}
	file, err := os.Open(path)
	if err != nil {
		return err
	}
	defer file.Close()
	_, err = io.Copy(tw, file)
	return err
}

func run(out, folder string) error {
	file, err := os.Create(out)
	if err != nil {
		return err
	}
	defer file.Close()
	zw := gzip.NewWriter(file)
	tw := tar.NewWriter(zw)
	err = filepath.Walk(folder, func(path string, info fs.FileInfo, err error) error {
		if err != nil {
			return err
		}
		return add(tw, path, info)
	})
	if err != nil {
		return err
	}
	if err := tw.Close(); err != nil {
		return err
	}
	return zw.Close()
}

func main() {
	if len(os.Args) != 3 {
		os.Stderr.WriteString("usage: go run gnu_tar.go OUT.tar.gz FOLDER\n")
		os.Exit(2)
	}
	if err := run(os.Args[1], os.Args[2]); err != nil {
		os.Stderr.WriteString(err.Error() + "\n")
		os.Exit(1)
	}
}
